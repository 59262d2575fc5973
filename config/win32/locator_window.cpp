#include "locator_window.h"

#include <memory>
#include <string>

#include "config_ids.h"
#include "dpi.h"
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
using corva::win::Widen;

namespace {

constexpr wchar_t kClassName[] = L"CorvasetLocalizador";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kTimer2 = 2;
// Client area: 3045 x 690 twips.
constexpr int kClientTwipsW = 3045;
constexpr int kClientTwipsH = 690;
// The client area's height in 96-DPI pixels, which the controls are centred in.
constexpr int kClientH = kClientTwipsH * corva::dpi::kBaseDpi / 1440;

// The controls' places in 96-DPI pixels.
struct LocatorPlace {
  int id, x, y, w, h;
};
constexpr LocatorPlace kPlaces[] = {
    {ids::locImage1, 6, (kClientH - 32) / 2, 32, 32},
    {ids::locLabel1, 40, (kClientH - 20) / 2, 130, 20},
    {ids::locLabel2, 172, (kClientH - 20) / 2, 30, 20},
};
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
    // No class brush: the class outlives this window (each search makes a new one, and the
    // class stays registered from the first), so the window paints its own background.
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);

    art_scale_ = corva::dpi::ArtScaleForDpi(owner ? corva::win::DpiOfWindow(owner)
                                                   : corva::win::ScreenDpi());
    const SIZE size = FrameSize();
    const int w = size.cx, h = size.cy;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    hwnd_ = ::CreateWindowExW(kExStyle, kClassName, Widen(locator::kCaption).c_str(), kStyle, x,
                              y, w, h, owner, nullptr, instance_, this);
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
      case corva::win::kWmDpiChanged: {
        const int scale = corva::dpi::ArtScaleForDpi(HIWORD(wp));
        if (scale != art_scale_) {
          art_scale_ = scale;
          LoadArt();
        }
        corva::win::MoveForDpiChange(hwnd_, reinterpret_cast<const RECT*>(lp), FrameSize());
        PlaceControls();
        return 0;
      }
      case WM_ERASEBKGND: {
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        ::FillRect(reinterpret_cast<HDC>(wp), &client, background_.get());
        return 1;
      }
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

  // The window's size for its client area of 3045 x 690 twips at the art scale.
  SIZE FrameSize() const {
    const int dpi_of_scale = corva::dpi::ScaleBy(corva::dpi::kBaseDpi, art_scale_);
    RECT frame{0, 0, corva::dpi::MulDivRound(kClientTwipsW, dpi_of_scale, 1440),
               corva::dpi::MulDivRound(kClientTwipsH, dpi_of_scale, 1440)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
  }

  void CreateControls() {
    const auto child = [this](const wchar_t* text, DWORD style, int id) {
      return ::CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                               hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               instance_, nullptr);
    };
    child(L"", SS_BITMAP, ids::locImage1);
    // Label2 follows Label1's text: "Buscando en COM" 4, "Localizado en COM" 4.
    child(Widen(locator::kSearching).c_str(), SS_RIGHT | SS_CENTERIMAGE, ids::locLabel1);
    child(L"1", SS_LEFT | SS_CENTERIMAGE, ids::locLabel2);
    LoadArt();
    PlaceControls();
  }

  // The font and the picture at the art scale; the old ones go once the controls hold these.
  void LoadArt() {
    unique_hfont retired_font = std::move(font_);
    unique_hbitmap retired_picture = std::move(picture_);
    font_ = corva::win::MakeSkinFont(12, true, art_scale_);
    picture_ = corva::win::LoadArtBitmap(instance_, IDB_LOCATOR, art_scale_);
    for (const LocatorPlace& p : kPlaces) {
      ::SendMessageW(::GetDlgItem(hwnd_, p.id), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()),
                     TRUE);
    }
    ::SendMessageW(::GetDlgItem(hwnd_, ids::locImage1), STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(picture_.get()));
  }

  void PlaceControls() {
    for (const LocatorPlace& p : kPlaces) {
      ::SetWindowPos(::GetDlgItem(hwnd_, p.id), nullptr, corva::dpi::ScaleBy(p.x, art_scale_),
                     corva::dpi::ScaleBy(p.y, art_scale_), corva::dpi::ScaleBy(p.w, art_scale_),
                     corva::dpi::ScaleBy(p.h, art_scale_), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  void SetText(int id, std::string_view text) {
    if (hwnd_) ::SetDlgItemTextW(hwnd_, id, Widen(text).c_str());
  }

  static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  static constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  int art_scale_ = 100;
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
