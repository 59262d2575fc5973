#pragma once
// frmTooltip: the tooltip window the library shares between the ImageBtn instances of a UI
// thread. Created when a tooltip is shown, destroyed when it is hidden. The library's objects
// live in single-threaded apartments, so each UI thread of the process has its own window (a
// window belongs to the thread that made it). A live tooltip window holds the module: its
// window procedure is in this library.

#include <windows.h>

#include <string>

#include "image_btn_types.h"

namespace lumbra::win {

// Shows `text` for the control window `button`, placed and shortened by the tooltip rules.
// A failure anywhere hides the tooltip.
void ShowToolTip(HWND button, const std::wstring& text, OleColor back, OleColor fore);
// Hides this thread's tooltip.
void HideToolTip();
// Hides this thread's tooltip if it was shown for `button` (whose window is going).
void HideToolTipOf(HWND button);
// This thread's tooltip window while one is shown (tests and assistive tools find it too).
HWND ToolTipWindow();

}  // namespace lumbra::win
