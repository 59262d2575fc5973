#pragma once
// frmTooltip: the one tooltip window the library shares between all ImageBtn instances of the
// process. Created when a tooltip is shown, destroyed when it is hidden.

#include <windows.h>

#include <string>

#include "image_btn_types.h"

namespace lumbra::win {

// Shows `text` for the control window `button`, placed and shortened by the tooltip rules.
// A failure anywhere hides the tooltip.
void ShowToolTip(HWND button, const std::wstring& text, OleColor back, OleColor fore);
void HideToolTip();
// The tooltip window while one is shown (tests and assistive tools find it this way too).
HWND ToolTipWindow();

}  // namespace lumbra::win
