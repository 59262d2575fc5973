#pragma once
// A simple self-drawn picture button: normal, pressed and hover pictures, drawn opaque.
// The main window creates all its buttons through CreateImageButton, so the button control
// behind them can change in one place.

#include <windows.h>

namespace corva::win {

struct ButtonPictures {
  HBITMAP normal = nullptr;
  HBITMAP down = nullptr;
  HBITMAP hover = nullptr;
};

// Creates a button child with id `id` at `rect`; `caption` is its window text (for screen
// readers; the pictures carry the look).
HWND CreateImageButton(HWND parent, int id, const RECT& rect, const wchar_t* caption);

// Pictures are borrowed: the caller keeps them alive while the button shows them.
void SetButtonPictures(HWND button, const ButtonPictures& pictures);

// Draws the button for the parent's WM_DRAWITEM.
void DrawImageButton(const DRAWITEMSTRUCT& item);

}  // namespace corva::win
