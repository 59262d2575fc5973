#include "locator_window.h"

#include <memory>
#include <string>

#include "config_ids.h"
#include "locator.h"
#include "resource.h"
#include "text.h"
#include "unique_resource.h"
#include "win_serial_port.h"
#include "window_procedure.h"

namespace corva::config::win {

using corva::win::unique_hbrush;
using corva::win::unique_hfont;
using corva::win::unique_hbitmap;
using corva::win::window_dc;
using corva::win::Widen;

namespace {

constexpr wchar_t kClassName[] = L"CorvasetLocalizador";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kTimer2 = 2;
// Client area: 3045 x 690 twips.
constexpr int kClientTwipsW = 3045;
constexpr int kClientTwipsH = 690;
constexpr COLORREF kBackground = RGB(244, 246, 248);

class LocatorWindow final : public LocatorView {
 public:
  explicit LocatorWindow(HINSTANCE instance) : instance_(instance) {}

  LocatorResult Run(HWND owner) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &corva::win::WindowProcedure<LocatorWindow>;
    wc.hInstance = instance_;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background_.get();
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);

    const int dpi = [] {
      window_dc screen(nullptr);
      return ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    }();
    RECT frame{0, 0, ::MulDiv(kClientTwipsW, dpi, 1440), ::MulDiv(kClientTwipsH, dpi, 1440)};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD ex_style = WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME;
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    hwnd_ = ::CreateWindowExW(ex_style, kClassName, Widen(locator::kCaption).c_str(), style, x, y,
                              w, h, owner, nullptr, instance_, this);
    if (!hwnd_) return {};

    // The first port is open before the window is first drawn.
    locator_.Form_Load();
    const bool owner_was_enabled = owner && !::EnableWindow(owner, FALSE);
    ::ShowWindow(hwnd_, SW_SHOW);
    MSG msg;
    while (hwnd_) {
      const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
        Close();
        break;
      }
      if (got == -1) break;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (owner_was_enabled) ::EnableWindow(owner, TRUE);
    if (owner) ::SetForegroundWindow(owner);
    return {locator_.FoundPort, locator_.FoundPort != 0 ? locator_.DataString : std::string()};
  }

  // LocatorView
  void SetLabel1(std::string_view text) override { SetText(ids::locLabel1, text); }
  void SetLabel2(std::string_view text) override { SetText(ids::locLabel2, text); }
  void EnableTimer1(bool enabled) override {
    if (!hwnd_) return;
    if (enabled) {
      ::SetTimer(hwnd_, kTimer1, locator::kTimer1Ms, nullptr);
    } else {
      ::KillTimer(hwnd_, kTimer1);
    }
  }
  void Close() override {
    if (hwnd_) ::DestroyWindow(hwnd_);
  }
  void DoEvents() override {
    MSG msg;
    while (hwnd_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

 private:
  friend LRESULT CALLBACK corva::win::WindowProcedure<LocatorWindow>(HWND, UINT, WPARAM, LPARAM);

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    try {
      return Handle(msg, wp, lp);
    } catch (...) {
      return 0;  // nothing may leave a window procedure
    }
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_CREATE:
        CreateControls();
        ::SetTimer(hwnd_, kTimer2, locator::kTimer2Ms, nullptr);
        return 0;
      case WM_TIMER:
        if (wp == kTimer1) locator_.Timer1_Timer();
        if (wp == kTimer2) locator_.Timer2_Timer();
        return 0;
      case WM_CTLCOLORSTATIC:
        ::SetBkColor(reinterpret_cast<HDC>(wp), kBackground);
        return reinterpret_cast<LRESULT>(background_.get());
      case WM_DESTROY:
        ::KillTimer(hwnd_, kTimer1);
        ::KillTimer(hwnd_, kTimer2);
        locator_.Form_Unload();
        return 0;
      default:
        return ::DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  void CreateControls() {
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    const int h = client.bottom;
    font_.reset(::CreateFontW(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
    picture_.reset(static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOCATOR),
                                                     IMAGE_BITMAP, 0, 0, 0)));
    const auto child = [this](const wchar_t* text, DWORD style, int id, int x, int y, int w, int ch) {
      HWND c = ::CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, w, ch,
                                 hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance_, nullptr);
      ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
      return c;
    };
    HWND image = child(L"", SS_BITMAP, ids::locImage1, 6, (h - 32) / 2, 32, 32);
    ::SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
    // Label2 follows Label1's text: "Buscando en COM" 4, "Localizado en COM" 4.
    child(Widen(locator::kSearching).c_str(), SS_RIGHT | SS_CENTERIMAGE, ids::locLabel1, 40,
          (h - 20) / 2, 130, 20);
    child(L"1", SS_LEFT | SS_CENTERIMAGE, ids::locLabel2, 172, (h - 20) / 2, 30, 20);
  }

  void SetText(int id, std::string_view text) {
    if (hwnd_) ::SetDlgItemTextW(hwnd_, id, Widen(text).c_str());
  }

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  unique_hbrush background_{::CreateSolidBrush(kBackground)};
  unique_hfont font_;
  unique_hbitmap picture_;
  corva::win::WinSerialPort Pto_;
  Locator locator_{Pto_, *this, &ComPortExists};
};

}  // namespace

bool ComPortExists(int port) {
  const std::wstring name = L"COM" + std::to_wstring(port);
  COMMCONFIG config{};
  DWORD size = sizeof(config);
  return ::GetDefaultCommConfigW(name.c_str(), &config, &size) != FALSE;
}

LocatorResult RunLocator(HINSTANCE instance, HWND owner) {
  LocatorWindow window(instance);
  return window.Run(owner);
}

}  // namespace corva::config::win
