#include "dpi.h"

#include <algorithm>

namespace corva::win {
namespace {

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (!user32) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(user32, name)));
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

}  // namespace

int ScreenDpi() {
  window_dc screen(nullptr);
  const int dpi = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : dpi::kBaseDpi;
}

int DpiOfWindow(HWND hwnd) {
  static const auto get_dpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (hwnd && get_dpi) {
    const UINT dpi = get_dpi(hwnd);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

int SystemMetricForDpi(int index, int dpi) {
  static const auto for_dpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (for_dpi) {
    const int value = for_dpi(index, static_cast<UINT>(dpi));
    if (value > 0) return value;
  }
  return dpi::MulDivRound(::GetSystemMetrics(index), dpi, ScreenDpi());
}

unique_hbitmap LoadArtBitmap(HINSTANCE instance, int id, int art_scale) {
  const auto load = [instance](int resource) {
    return unique_hbitmap(static_cast<HBITMAP>(::LoadImageW(
        instance, MAKEINTRESOURCEW(resource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  };
  unique_hbitmap scaled = load(dpi::ScaledResourceId(id, art_scale));
  return scaled ? std::move(scaled) : load(id);
}

unique_hicon LoadIconForDpi(HINSTANCE instance, int id, int dpi, bool small) {
  const int cx = SystemMetricForDpi(small ? SM_CXSMICON : SM_CXICON, dpi);
  const int cy = SystemMetricForDpi(small ? SM_CYSMICON : SM_CYICON, dpi);
  return unique_hicon(static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)));
}

POINT CentredOnWorkArea(SIZE size) {
  RECT work{0, 0, 800, 600};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return POINT{std::max(work.left, work.left + (work.right - work.left - size.cx) / 2),
               std::max(work.top, work.top + (work.bottom - work.top - size.cy) / 2)};
}

void MoveForDpiChange(HWND hwnd, const RECT* suggested, SIZE size) {
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  const POINT at = suggested ? POINT{suggested->left, suggested->top} : POINT{now.left, now.top};
  ::SetWindowPos(hwnd, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

unique_hfont MakeSkinFont(int px, bool bold, int art_scale) {
  return unique_hfont(::CreateFontW(-dpi::ScaleBy(px, art_scale), 0, 0, 0,
                                    bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

}  // namespace corva::win
