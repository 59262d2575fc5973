#pragma once
// The Win32 side of the DPI rules in common/core/dpi_scale.h: a window's DPI, system metrics at
// a DPI and the art bitmap for a DPI. The Windows 10 functions (GetDpiForWindow,
// GetSystemMetricsForDpi) are looked up at run time; without them the screen's DPI serves.

#include <windows.h>

#include "dpi_scale.h"
#include "unique_resource.h"

namespace corva::win {

// WM_DPICHANGED, for headers that predate it.
inline constexpr UINT kWmDpiChanged = 0x02E0;

// The DPI `hwnd` is shown at: GetDpiForWindow where it exists, else the screen's LOGPIXELSY.
// A null window answers the screen's DPI.
int DpiOfWindow(HWND hwnd);
// The screen's DPI (LOGPIXELSY of the screen DC).
int ScreenDpi();
// GetSystemMetricsForDpi(index, dpi) where it exists, else the metric at the screen's DPI
// scaled to `dpi`.
int SystemMetricForDpi(int index, int dpi);

// The bitmap of resource `id` drawn for `art_scale` (ScaledResourceId), as a DIB section;
// falls back to the 100 % picture when the scaled one is missing. Null when neither exists.
unique_hbitmap LoadArtBitmap(HINSTANCE instance, int id, int art_scale);

// The icon of resource `id` at its small size (16 px at 96 DPI) or large size (32 px) for `dpi`.
unique_hicon LoadIconForDpi(HINSTANCE instance, int id, int dpi, bool small);

// Where a window of `size` opens: centred on the work area, with its top left kept on the work
// area when it does not fit (a large scale on a small screen).
POINT CentredOnWorkArea(SIZE size);

// A window's answer to WM_DPICHANGED: it goes to the top left of the `suggested` rectangle (or
// stays where it is without one), at `size`, its skin's size at the new scale.
void MoveForDpiChange(HWND hwnd, const RECT* suggested, SIZE size);

// A "Tahoma" font of `px` pixels at 96 DPI, at `art_scale`.
unique_hfont MakeSkinFont(int px, bool bold, int art_scale);

}  // namespace corva::win
