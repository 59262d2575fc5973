#include "principal_window.h"

#include <windowsx.h>

#include <algorithm>

#include "control_ids.h"
#include "access_io_device.h"
#include "documents.h"
#include "dpi.h"
#include "ini_io.h"
#include "image_btn_host.h"
#include "image_buttons.h"
#include "resource.h"
#include "skin_layout.h"
#include "text.h"
#include "window_procedure.h"

namespace corva::win {
namespace {

constexpr UINT_PTR kTimerIdBase = 1000;
// 15 twips: the skin's height is cut by this much when the window is sized to it.
constexpr int kSkinHeightTrimTwips = 15;

// The window's size at an art scale: the skin's, less the trim at the scale's DPI.
SIZE WindowSize(int art_scale) {
  const int dpi_of_scale = dpi::ScaleBy(dpi::kBaseDpi, art_scale);
  return SIZE{dpi::ScaleBy(skin::kSkin.w, art_scale),
              dpi::ScaleBy(skin::kSkin.h, art_scale) -
                  dpi::MulDivRound(kSkinHeightTrimTwips, dpi_of_scale, 1440)};
}

// ImageBtn's picture properties.
constexpr DISPID kDispidPicture = 0x68030009;
constexpr DISPID kDispidPictureDown = 0x68030008;
constexpr DISPID kDispidPictureHov = 0x68030007;

UINT_PTR TimerId(Timer t) { return kTimerIdBase + static_cast<UINT_PTR>(t); }

// Corvamon.ini through the profile functions, at the path the core settles at start-up.
class IniFile final : public SettingsStore {
 public:
  void Attach(const MonitorSettings& settings) { settings_ = &settings; }
  std::string Read(std::string_view section, std::string_view key) override {
    return ReadSetting(settings_->SettingsPath, section, key);
  }
  bool Write(std::string_view section, std::string_view key, std::string_view value) override {
    return WriteSetting(settings_->SettingsPath, section, key, value);
  }

 private:
  const MonitorSettings* settings_ = nullptr;
};

struct LabelSpec {
  int id;
  const wchar_t* caption;
  skin::Rect rect;
};

// The labels and their design captions.
constexpr LabelSpec kLabels[] = {
    {ids::lblvolt, L"0 Volts", skin::kLblVolt},   {ids::lblfr, L"0 Hz", skin::kLblFr},
    {ids::lblbat, L"0 %", skin::kLblBat},         {ids::lblop, L" Normal", skin::kLblOp},
    {ids::lblmsg, L"", skin::kLblMsg},            {ids::lblidenti, L"Autoprueba", skin::kLblIdenti},
    {ids::lbltit0, L"Salida", skin::kLblTit0},    {ids::lbltit1, L"Frecuencia", skin::kLblTit1},
    {ids::lbltit2, L"L\u00EDnea", skin::kLblTit2},
};

}  // namespace

std::unique_ptr<PrincipalWindow> PrincipalWindow::Create(HINSTANCE instance, Links links,
                                                         const std::wstring& program_directory) {
  std::unique_ptr<PrincipalWindow> window(new PrincipalWindow(instance, links));

  // Registered once, with icons the system shares: they live as long as the class, not as
  // long as the first window.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  if (!::GetClassInfoExW(instance, CORVA_MAIN_CLASS, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &WindowProcedure<PrincipalWindow>;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVAMON), IMAGE_ICON,
                                               0, 0, LR_DEFAULTSIZE | LR_SHARED));
    const int screen_dpi = ScreenDpi();
    wc.hIconSm = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(IDI_CORVAMON), IMAGE_ICON,
        SystemMetricForDpi(SM_CXSMICON, screen_dpi), SystemMetricForDpi(SM_CYSMICON, screen_dpi),
        LR_SHARED));
    wc.lpszClassName = CORVA_MAIN_CLASS;
    ::RegisterClassExW(&wc);
  }

  // Sized to the skin at the screen's scale, centred on the work area. Created on a screen of
  // another DPI, the window sizes itself again at WM_CREATE.
  const SIZE size = WindowSize(dpi::ArtScaleForDpi(ScreenDpi()));
  const POINT at = CentredOnWorkArea(size);
  HWND hwnd = ::CreateWindowExW(WS_EX_APPWINDOW, CORVA_MAIN_CLASS, CORVA_MAIN_CAPTION,
                                WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, at.x,
                                at.y, size.cx, size.cy, nullptr, nullptr, instance, window.get());
  if (!hwnd) return nullptr;

  if (links.tray) {
    window->tray_.target = links.tray;
  } else {
    PrincipalWindow* self = window.get();
    window->systray_ = std::make_unique<Systray>(hwnd, TrayIcons::Load(instance),
                                                 [self] { self->Restore(); });
    window->tray_.target = window->systray_.get();
  }

  SetDeviceErrorHandling(
      {L"Corvamon", [self = window.get()](DWORD exit_code) { self->EndProgram(exit_code); }});
  {
    // A device error during start-up ends the program once the start-up is over.
    const EventScope loading(*window);
    window->core_->Load(Narrow(program_directory));
  }
  window->EndIfAsked();
  return window;
}

PrincipalWindow::PrincipalWindow(HINSTANCE instance, Links links)
    : instance_(instance), links_(links) {
  auto ini = std::make_unique<IniFile>();
  core_ = std::make_unique<Principal>(PrincipalPorts{*this, *ini, links.MSComm1, links.MSComm2,
                                                     links.usb, tray_, links.log,
                                                     links.platform, links.shutdown, links.office,
                                                     [] { return DefaultSaveDirectory(); },
                                                     links.listeners});
  ini->Attach(core_->Settings());
  settings_ = std::move(ini);
}

PrincipalWindow::~PrincipalWindow() {
  SetDeviceErrorHandling({});
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void PrincipalWindow::Show(int show_command) {
  ::ShowWindow(hwnd_, show_command);
  ::UpdateWindow(hwnd_);
}

LRESULT PrincipalWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  // Every event of the window ends here: no error goes through the window procedure.
  LRESULT result = 0;
  {
    const EventScope event(*this);
    try {
      result = Dispatch(msg, wp, lp);
    } catch (const CorvaError& error) {
      ShowUnhandledError(error);
    } catch (const std::exception& error) {
      ShowUnhandledError(CorvaError(kObjectErrorBase, "Corvamon", error.what()));
    } catch (...) {
      // Nothing may leave a window procedure, whatever was thrown.
      ShowUnhandledError(CorvaError(kObjectErrorBase, "Corvamon", "Error desconocido"));
    }
  }
  EndIfAsked();
  return result;
}

void PrincipalWindow::EndProgram(DWORD exit_code) {
  if (!end_code_) end_code_ = exit_code;
  EndIfAsked();
}

void PrincipalWindow::EndIfAsked() {
  // Only once every event under way has returned: the window goes as the user's close would.
  if (end_code_ && event_depth_ == 0 && hwnd_ && !destroying_) Unload();
}

void PrincipalWindow::ShowUnhandledError(const CorvaError& error) {
  ::MessageBoxW(hwnd_, Widen(UnhandledErrorText(error)).c_str(), L"Corvamon",
                MB_OK | MB_ICONSTOP);
  Unload();
}

LRESULT PrincipalWindow::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      art_scale_ = dpi::ArtScaleForDpi(DpiOfWindow(hwnd_));
      if (!LoadPictures()) return -1;
      CreateControls();
      ApplyDpi(DpiOfWindow(hwnd_), nullptr);
      return 0;
    case kWmDpiChanged:
      ApplyDpi(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the skin covers the client area
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_LBUTTONDOWN:
      // The skin drags the window.
      ::ReleaseCapture();
      ::SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return 0;
    case WM_TIMER:
      if (wp >= kTimerIdBase && wp < kTimerIdBase + kTimerCount) {
        core_->OnTimer(static_cast<Timer>(wp - kTimerIdBase));
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) core_->Activate();
      return 0;
    case WM_WINDOWPOSCHANGED:
      // Started shown but not activated (a shortcut's "minimised" or "no activate" show), the
      // window gets no WM_ACTIVATE: its first activation runs once it is first shown, after the
      // show that is under way has finished.
      if ((reinterpret_cast<const WINDOWPOS*>(lp)->flags & SWP_SHOWWINDOW) != 0) {
        ::PostMessageW(hwnd_, kFirstShownMessage, 0, 0);
      }
      return ::DefWindowProcW(hwnd_, msg, wp, lp);
    case kFirstShownMessage:
      core_->Activate();
      return 0;
    case WM_CLOSE:
      core_->IBClose_Click();
      return 0;
    case WM_POWERBROADCAST:
      // Windows sends the automatic wake always, and the user's wake too when someone is at
      // the computer: the core handles one wake once.
      if (wp == PBT_APMSUSPEND) {
        core_->Suspending();
      } else if (wp == PBT_APMRESUMEAUTOMATIC || wp == PBT_APMRESUMESUSPEND) {
        core_->Resumed();
      }
      return TRUE;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wp) Unload();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return ::DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

bool PrincipalWindow::LoadPictures() {
  const auto load = [this](int id) { return LoadArtBitmap(instance_, id, art_scale_); };
  // IBMute borrows the sound pictures: the old ones go only once it has the new ones.
  const std::array<unique_hbitmap, 3> retired_sound = std::move(ImgBocina_);
  const std::array<unique_hbitmap, 3> retired_mute = std::move(ImgMute_);
  skin_ = load(IDB_SKIN);
  for (int i = 0; i < 11; ++i) IBatF_[static_cast<std::size_t>(i)] = load(IDB_GAUGE_00 + i);
  battery_ = load(IDB_BATTERY);
  link_serial_ = load(IDB_LINK_SERIAL);
  link_usb_ = load(IDB_LINK_USB);
  const auto load3 = [&](std::array<unique_hbitmap, 3>& set, int normal, int down, int hover) {
    set[0] = load(normal);
    set[1] = load(down);
    set[2] = load(hover);
  };
  load3(ImgBocina_, IDB_SOUND_NORMAL, IDB_SOUND_DOWN, IDB_SOUND_HOVER);
  load3(ImgMute_, IDB_MUTE_NORMAL, IDB_MUTE_DOWN, IDB_MUTE_HOVER);
  // The gauge agrees with the design caption "0 %" until the first frame arrives.
  IMBatG_picture_ = IBatF_[gauge_member_].get();
  ImgConn_picture_ = link_is_usb_ ? link_usb_.get() : link_serial_.get();
  if (buttons_) {
    buttons_->SetArtScale(art_scale_);
    if (mute_sound_on_) SetMutePictures(*mute_sound_on_);
  }

  value_font_ = MakeSkinFont(skin::kValueFontPx, true, art_scale_);
  narrow_value_font_ = MakeSkinFont(skin::kTitleFontPx, true, art_scale_);
  bat_font_ = MakeSkinFont(skin::kBatFontPx, true, art_scale_);
  title_font_ = MakeSkinFont(skin::kTitleFontPx, false, art_scale_);
  small_font_ = MakeSkinFont(skin::kSmallFontPx, false, art_scale_);
  return static_cast<bool>(skin_);
}

int PrincipalWindow::Scaled(int length) const { return dpi::ScaleBy(length, art_scale_); }

void PrincipalWindow::PlaceControls() {
  const auto place = [this](int id, const skin::Rect& r) {
    if (HWND child = Child(id)) {
      ::SetWindowPos(child, nullptr, Scaled(r.x), Scaled(r.y), Scaled(r.w), Scaled(r.h),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
  };
  for (const LabelSpec& label : kLabels) place(label.id, label.rect);
  place(ids::IMBatG, skin::kIMBatG);
  place(ids::ImgConn, skin::kImgConn);
  place(ids::ImgMainBat, skin::kImgMainBat);
}

void PrincipalWindow::ApplyDpi(int dpi, const RECT* suggested) {
  const int scale = dpi::ArtScaleForDpi(dpi);
  if (scale != art_scale_) {
    art_scale_ = scale;
    LoadPictures();
  }
  PlaceControls();
  // The size of the skin at the new scale: the suggested size whenever the DPI is one the art
  // is drawn for.
  MoveForDpiChange(hwnd_, suggested, WindowSize(art_scale_));
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void PrincipalWindow::CreateControls() {
  const auto child = [this](const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                            const skin::Rect& r) {
    ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, Scaled(r.x), Scaled(r.y),
                      Scaled(r.w), Scaled(r.h), hwnd_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  for (const LabelSpec& label : kLabels) {
    child(L"STATIC", label.caption, SS_OWNERDRAW, label.id, label.rect);
  }
  child(L"STATIC", L"", SS_OWNERDRAW, ids::IMBatG, skin::kIMBatG);
  child(L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, ids::ImgConn, skin::kImgConn);
  child(L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, ids::ImgMainBat, skin::kImgMainBat);

  // The four buttons are ImageBtn instances from their saved description; their clicks come
  // back as BN_CLICKED. They take the window's scale.
  buttons_ = std::make_unique<ImageBtnContainer>(hwnd_, instance_);
  buttons_->LoadResource(IDR_IMAGE_BUTTONS);
  if (buttons_->art_scale() != art_scale_) buttons_->SetArtScale(art_scale_);
}

void PrincipalWindow::OnPaint() {
  paint_dc dc(hwnd_);
  unique_hdc source(::CreateCompatibleDC(dc.get()));
  select_object selected(source.get(), skin_.get());
  const RECT& r = dc.paint().rcPaint;
  ::BitBlt(dc.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, source.get(), r.left,
           r.top, SRCCOPY);
}

void PrincipalWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
  switch (item.CtlID) {
    case ids::IMBatG:
      DrawPicture(item, IMBatG_picture_);
      break;
    case ids::ImgConn:
      DrawPicture(item, ImgConn_picture_);
      break;
    case ids::ImgMainBat:
      DrawPicture(item, battery_.get());
      break;
    default:
      DrawLabel(item);
      break;
  }
}

void PrincipalWindow::DrawPicture(const DRAWITEMSTRUCT& item, HBITMAP picture) {
  unique_hdc source(::CreateCompatibleDC(item.hDC));
  select_object selected(source.get(), picture);
  const RECT& r = item.rcItem;
  ::BitBlt(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, source.get(), 0, 0,
           SRCCOPY);
}

void PrincipalWindow::DrawLabel(const DRAWITEMSTRUCT& item) {
  const RECT& r = item.rcItem;
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  // Where the label sits on the skin.
  RECT on_skin{};
  ::GetWindowRect(item.hwndItem, &on_skin);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&on_skin), 2);

  // Drawn off screen, then copied in one go: no flicker when the text changes every second.
  unique_hdc buffer(::CreateCompatibleDC(item.hDC));
  unique_hbitmap canvas(::CreateCompatibleBitmap(item.hDC, w, h));
  select_object canvas_selected(buffer.get(), canvas.get());
  {
    unique_hdc source(::CreateCompatibleDC(item.hDC));
    select_object skin_selected(source.get(), skin_.get());
    ::BitBlt(buffer.get(), 0, 0, w, h, source.get(), on_skin.left, on_skin.top, SRCCOPY);
  }

  HFONT font = value_font_.get();
  COLORREF colour = skin::kTextColour;
  UINT align = DT_LEFT;
  switch (item.CtlID) {
    case ids::lblbat:
      font = bat_font_.get();
      align = DT_CENTER;
      break;
    case ids::lblidenti:
      font = small_font_.get();
      colour = skin::kTitleColour;
      align = DT_CENTER;
      break;
    case ids::lbltit0:
    case ids::lbltit1:
    case ids::lbltit2:
      font = title_font_.get();
      colour = skin::kTitleColour;
      break;
    case ids::lblmsg:
      font = title_font_.get();
      colour = skin::kMessageColour;
      break;
    default:
      break;
  }
  const int length = ::GetWindowTextLengthW(item.hwndItem);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(item.hwndItem, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));

  // A long value ("Monitoreando Equipo") steps down a size rather than being cut.
  if (font == value_font_.get()) {
    select_object measuring(buffer.get(), font);
    SIZE extent{};
    ::GetTextExtentPoint32W(buffer.get(), text.c_str(), length, &extent);
    if (extent.cx > w) font = narrow_value_font_.get();
  }
  select_object font_selected(buffer.get(), font);
  ::SetBkMode(buffer.get(), TRANSPARENT);
  ::SetTextColor(buffer.get(), colour);
  RECT text_rect{0, 0, w, h};
  ::DrawTextW(buffer.get(), text.c_str(), length, &text_rect,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  ::BitBlt(item.hDC, r.left, r.top, w, h, buffer.get(), 0, 0, SRCCOPY);
}

void PrincipalWindow::OnCommand(int id, int code) {
  switch (id) {
    case ids::IBClose:
      if (code == BN_CLICKED) core_->IBClose_Click();
      break;
    case ids::IBMin:
      if (code == BN_CLICKED) core_->IBMin_Click();
      break;
    case ids::IBMute:
      if (code == BN_CLICKED) core_->IBMute_Click();
      break;
    case ids::IBTest:
      if (code == BN_CLICKED) core_->IBTest_Click();
      break;
    case ids::ImgConn:
      if (code == STN_CLICKED) core_->ImgConn_Click();
      break;
    case ids::ImgMainBat:
      if (code == STN_DBLCLK) core_->ImgMainBat_DblClick();
      break;
    default:
      break;
  }
}

void PrincipalWindow::OnDestroy() {
  destroying_ = true;
  for (Timer t : timers_) ::KillTimer(hwnd_, TimerId(t));
  timers_.clear();
  core_->Unload();
  ::PostQuitMessage(static_cast<int>(end_code_.value_or(0)));
}

int PrincipalWindow::ControlId(Control control) {
  switch (control) {
    case Control::lblvolt: return ids::lblvolt;
    case Control::lblfr: return ids::lblfr;
    case Control::lblbat: return ids::lblbat;
    case Control::lblop: return ids::lblop;
    case Control::lblmsg: return ids::lblmsg;
    case Control::lblidenti: return ids::lblidenti;
    case Control::IBClose: return ids::IBClose;
    case Control::IBMin: return ids::IBMin;
    case Control::IBMute: return ids::IBMute;
    case Control::IBTest: return ids::IBTest;
  }
  return 0;
}

void PrincipalWindow::SetText(Control control, std::string_view text) {
  HWND child = Child(ControlId(control));
  if (!child) return;
  // Most frames repeat the last values: a label whose text stays is not drawn again.
  const std::wstring wide = Widen(text);
  const int length = ::GetWindowTextLengthW(child);
  if (length == static_cast<int>(wide.size())) {
    std::wstring current(static_cast<std::size_t>(length) + 1, L'\0');
    ::GetWindowTextW(child, current.data(), length + 1);
    current.resize(static_cast<std::size_t>(length));
    if (current == wide) return;
  }
  ::SetWindowTextW(child, wide.c_str());
  ::InvalidateRect(child, nullptr, FALSE);
}

void PrincipalWindow::SetVisible(Control control, bool visible) {
  HWND child = Child(ControlId(control));
  if (child && IsVisible(control) != visible) ::ShowWindow(child, visible ? SW_SHOW : SW_HIDE);
}

void PrincipalWindow::EnableTimer(Timer timer, bool enabled) {
  if (enabled) {
    if (::SetTimer(hwnd_, TimerId(timer), static_cast<UINT>(TimerIntervalMs(timer)), nullptr)) {
      timers_.insert(timer);
    }
  } else {
    ::KillTimer(hwnd_, TimerId(timer));
    timers_.erase(timer);
  }
}

bool PrincipalWindow::TimerEnabled(Timer timer) const { return timers_.count(timer) != 0; }

void PrincipalWindow::SetMutePictures(bool sound_on) {
  // UpdateMuteButton: Picture, PictureDown and PictureHov by their dispatch ids.
  const auto& set = sound_on ? ImgBocina_ : ImgMute_;
  mute_sound_on_ = sound_on;
  if (!buttons_) return;
  buttons_->SetPicture(L"IBMute", kDispidPicture, set[0].get());
  buttons_->SetPicture(L"IBMute", kDispidPictureDown, set[1].get());
  buttons_->SetPicture(L"IBMute", kDispidPictureHov, set[2].get());
}

void PrincipalWindow::SetLinkPicture(LinkPicture picture) {
  link_is_usb_ = picture == LinkPicture::Usb;
  ImgConn_picture_ = link_is_usb_ ? link_usb_.get() : link_serial_.get();
  ::InvalidateRect(Child(ids::ImgConn), nullptr, FALSE);
}

void PrincipalWindow::SetGauge(int member) {
  if (member < 0 || member >= static_cast<int>(IBatF_.size())) return;
  gauge_member_ = static_cast<std::size_t>(member);
  HBITMAP picture = IBatF_[gauge_member_].get();
  if (picture == IMBatG_picture_) return;
  IMBatG_picture_ = picture;
  ::InvalidateRect(Child(ids::IMBatG), nullptr, FALSE);
}

bool PrincipalWindow::IsVisible(Control control) const {
  HWND child = Child(ControlId(control));
  return child && (::GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0;
}

void PrincipalWindow::BringWindowToFront() { corva::win::BringWindowToFront(hwnd_); }

void PrincipalWindow::ShowMessage(std::string_view text, std::string_view title) {
  ::MessageBoxW(hwnd_, Widen(text).c_str(), Widen(title).c_str(), MB_OK);
}

void PrincipalWindow::DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit_seen_ = true;
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the main loop
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void PrincipalWindow::Pause(int ms) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(ms > 0 ? ms : 0);
  for (;;) {
    DoEvents();
    const ULONGLONG now = ::GetTickCount64();
    if (quit_seen_ || now >= deadline) return;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

bool PrincipalWindow::WaitWhile(const std::function<bool()>& busy, int timeout_ms) {
  // Re-checked at least every 10 ms, sleeping in between; messages keep flowing.
  constexpr DWORD kCheckMs = 10;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    if (!busy()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (quit_seen_ || now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(kCheckMs, deadline - now)),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    DoEvents();
  }
}

void PrincipalWindow::Restore() { RestoreWindow(hwnd_); }

void PrincipalWindow::HideToTray() { corva::win::HideToTray(hwnd_); }

void PrincipalWindow::Minimize() { ::ShowWindow(hwnd_, SW_MINIMIZE); }

void PrincipalWindow::Unload() {
  if (hwnd_ && !destroying_) ::DestroyWindow(hwnd_);
}

}  // namespace corva::win
