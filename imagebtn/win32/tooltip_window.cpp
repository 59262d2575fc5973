#include "tooltip_window.h"

#include <memory>
#include <vector>

#include "module.h"
#include "painter.h"
#include "tooltip_layout.h"
#include "unique_resource.h"

namespace lumbra::win {

using corva::win::paint_dc;
using corva::win::select_object;
using corva::win::unique_hbrush;
using corva::win::unique_hfont;
using corva::win::unique_hwnd;
using corva::win::window_dc;

namespace {

constexpr wchar_t kClass[] = L"LumbraToolTip";
constexpr int kLabelOffsetTwips = 60;  // lblToolTipText's place in the window

// The window, its font and what lblToolTipText shows, for one UI thread.
struct ToolTipState {
  ~ToolTipState() { window.reset(); }  // the window first: its procedure reads the rest
  DWORD thread = 0;
  HWND owner = nullptr;  // the control window it is shown for
  unique_hwnd window;
  unique_hfont font;
  std::wstring text;
  COLORREF back = 0;
  COLORREF fore = 0;
  int label_w = 0;
  int label_h = 0;
};

// The states of the threads that show a tooltip now. The list is shared and locked; each state
// is only ever used by its own thread.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<std::unique_ptr<ToolTipState>>& States() {
  static std::vector<std::unique_ptr<ToolTipState>> states;
  return states;
}

ToolTipState* FindState() {
  const DWORD thread = ::GetCurrentThreadId();
  ::AcquireSRWLockShared(&g_lock);
  ToolTipState* found = nullptr;
  for (const auto& st : States()) {
    if (st->thread == thread) found = st.get();
  }
  ::ReleaseSRWLockShared(&g_lock);
  return found;
}

ToolTipState& AddState() {
  auto st = std::make_unique<ToolTipState>();
  st->thread = ::GetCurrentThreadId();
  ToolTipState& added = *st;
  ::AcquireSRWLockExclusive(&g_lock);
  try {
    States().push_back(std::move(st));
  } catch (...) {
    ::ReleaseSRWLockExclusive(&g_lock);
    throw;
  }
  ::ReleaseSRWLockExclusive(&g_lock);
  return added;
}

// Takes this thread's state out of the list; destroying it destroys the window.
std::unique_ptr<ToolTipState> TakeState() {
  const DWORD thread = ::GetCurrentThreadId();
  std::unique_ptr<ToolTipState> taken;
  ::AcquireSRWLockExclusive(&g_lock);
  auto& states = States();
  for (auto it = states.begin(); it != states.end(); ++it) {
    if ((*it)->thread == thread) {
      taken = std::move(*it);
      states.erase(it);
      break;
    }
  }
  ::ReleaseSRWLockExclusive(&g_lock);
  return taken;
}

LRESULT CALLBACK ToolTipProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  switch (msg) {
    case WM_NCCREATE: {
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      const LRESULT created = ::DefWindowProcW(hwnd, msg, wp, lp);
      if (created) ModuleAddRef();  // the window procedure must stay loaded while it lives
      return created;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      ModuleRelease();
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  auto* st = reinterpret_cast<ToolTipState*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!st) return ::DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      paint_dc dc(hwnd);
      RECT r;
      ::GetClientRect(hwnd, &r);
      unique_hbrush back(::CreateSolidBrush(st->back));
      ::FillRect(dc.get(), &r, back.get());
      select_object sel(dc.get(), st->font.get());
      window_dc screen(nullptr);
      const int offset = ::MulDiv(kLabelOffsetTwips, ::GetDeviceCaps(screen.get(), LOGPIXELSX), 1440);
      RECT label{offset, offset, offset + st->label_w, offset + st->label_h};
      ::SetTextColor(dc.get(), st->fore);
      ::SetBkColor(dc.get(), st->back);
      ::SetBkMode(dc.get(), OPAQUE);
      ::DrawTextW(dc.get(), st->text.c_str(), static_cast<int>(st->text.size()), &label,
                  DT_LEFT | DT_NOPREFIX | DT_SINGLELINE);
      return 0;
    }
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_NCHITTEST: return HTTRANSPARENT;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// This thread's state with its window, made when missing; null when it cannot be made.
ToolTipState* EnsureWindow() {
  if (ToolTipState* st = FindState(); st && st->window) return st;
  // Another thread may register the class at the same moment: either registration serves.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ToolTipProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  ToolTipState* found = FindState();
  ToolTipState& st = found ? *found : AddState();
  window_dc screen(nullptr);
  // Arial 8.25 pt, regular.
  const int height = -::MulDiv(825, ::GetDeviceCaps(screen.get(), LOGPIXELSY), 7200);
  st.font.reset(::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, L"Arial"));
  st.window.reset(::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kClass,
                                    L"", WS_POPUP | WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                                    ModuleInstance(), &st));
  if (!st.window) {
    TakeState();
    return nullptr;
  }
  return &st;
}

class FontMeasure final : public ToolTipMeasure {
 public:
  FontMeasure(HDC dc, double tppx, double tppy) : dc_(dc), tppx_(tppx), tppy_(tppy) {}
  double TextWidth(const std::wstring& text) override { return Size(text).cx * tppx_; }
  double TextHeight(const std::wstring& text) override { return Size(text).cy * tppy_; }

 private:
  SIZE Size(const std::wstring& text) {
    SIZE s{};
    // An empty text still has the font's height.
    const std::wstring measured = text.empty() ? L" " : text;
    ::GetTextExtentPoint32W(dc_, measured.c_str(), static_cast<int>(measured.size()), &s);
    if (text.empty()) s.cx = 0;
    return s;
  }
  HDC dc_;
  double tppx_, tppy_;
};

}  // namespace

HWND ToolTipWindow() {
  const ToolTipState* st = FindState();
  return st ? st->window.get() : nullptr;
}

void HideToolTip() { TakeState(); }

void HideToolTipOf(HWND button) {
  if (const ToolTipState* st = FindState(); st && st->owner == button) HideToolTip();
}

void ShowToolTip(HWND button, const std::wstring& text, OleColor back, OleColor fore) {
  try {
    ToolTipState* shown = EnsureWindow();
    if (!shown) {
      HideToolTip();
      return;
    }
    ToolTipState& st = *shown;
    st.owner = button;
    RECT wr{};
    ::GetWindowRect(button, &wr);
    window_dc screen(nullptr);
    ScreenTwips twips;
    twips.tppx = 1440.0 / ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    twips.tppy = 1440.0 / ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    twips.width = ::GetSystemMetrics(SM_CXSCREEN) * twips.tppx;
    twips.height = ::GetSystemMetrics(SM_CYSCREEN) * twips.tppy;

    ToolTipPlacement place;
    Status status;
    {
      window_dc dc(st.window.get());
      select_object sel(dc.get(), st.font.get());
      FontMeasure measure(dc.get(), twips.tppx, twips.tppy);
      status = PlaceToolTip({wr.left, wr.top, wr.right, wr.bottom}, twips, measure, text, place);
    }
    if (Failed(status)) {
      HideToolTip();
      return;
    }
    st.back = ToRgb(back);
    st.fore = ToRgb(fore);
    st.text = place.text;
    auto px = [](double v, double tpp) { return static_cast<int>(RoundHalfEven(v / tpp)); };
    st.label_w = px(place.width, twips.tppx);
    st.label_h = px(place.height, twips.tppy);
    ::MoveWindow(st.window.get(), px(place.left, twips.tppx), px(place.top, twips.tppy),
                 st.label_w, st.label_h, FALSE);
    ::InvalidateRect(st.window.get(), nullptr, FALSE);
    ::SetWindowPos(st.window.get(), nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  } catch (...) {
    HideToolTip();
  }
}

}  // namespace lumbra::win
