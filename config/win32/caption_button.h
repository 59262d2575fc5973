#pragma once
// Corvaset's buttons: a picture for each state (normal, hover, pressed) with the caption drawn
// over it. Every button of the window is made through MakeButton, so the control behind them
// can change in one place.

#include <windows.h>

#include <string>

namespace corva::config::win {

struct ButtonLook {
  HBITMAP normal = nullptr, hover = nullptr, down = nullptr;  // borrowed
  HFONT font = nullptr;                                        // borrowed
  COLORREF text = 0;
  bool left_aligned = false;
};

HWND MakeButton(HWND parent, int id, const RECT& rect, const std::wstring& caption,
                const ButtonLook& look);

// Gives a button made by MakeButton another look (pictures and font at another scale); the
// old look's pictures and font may go once this has returned.
void SetButtonLook(HWND button, const ButtonLook& look);

// For the parent's WM_DRAWITEM of a button made by MakeButton; false for any other control.
bool DrawButton(const DRAWITEMSTRUCT& item);

}  // namespace corva::config::win
