#pragma once
// What screen readers and UI automation see of an ImageBtn: a push button named by its caption
// (without "&" markers) or else its tooltip text, unavailable while disabled, and a default
// action that raises Click.

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace lumbra::win {

// Private messages the accessible object sends to the control window.
inline constexpr UINT kMsgAccessibleState = WM_APP + 0x4C;  // answers the bits below
inline constexpr UINT kMsgAccessiblePress = WM_APP + 0x4D;  // raises Click
inline constexpr LRESULT kAccessibleEnabled = 1;
inline constexpr LRESULT kAccessibleFocused = 2;

// "&&" shows one "&"; a single "&" only marks the next letter.
std::wstring StripMnemonics(const std::wstring& caption);

// The push button's accessible object for the control window `hwnd`.
HRESULT CreateButtonAccessible(HWND hwnd, const std::wstring& name, IAccessible** out);

// The answer to WM_GETOBJECT for OBJID_CLIENT.
LRESULT AccessibleResult(HWND hwnd, WPARAM wp, const std::wstring& name);

}  // namespace lumbra::win
