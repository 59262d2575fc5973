#include "systray.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dpi.h"
#include "resource.h"
#include "text.h"

namespace corva::win {

// The record sizes each shell understands; the i686 build proves they are the ones 32-bit
// Windows has always used.
#if !defined(_WIN64)
static_assert(NOTIFYICONDATAA_V3_SIZE == 504);
static_assert(NOTIFYICONDATAA_V2_SIZE == 488);
static_assert(NOTIFYICONDATAA_V1_SIZE == 88);
#endif
static_assert(sizeof(NOTIFYICONDATAA) >= NOTIFYICONDATAA_V3_SIZE);

namespace {

// Where the main window keeps the Systray that hooked it (GWLP_USERDATA is the window's own).
constexpr wchar_t kSystrayProperty[] = L"Corvamon.Systray";

}  // namespace

std::optional<int> ShellMajorVersion() {
  constexpr char kShell[] = "shell32.dll";
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(kShell, &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoA(kShell, 0, size, block.data())) return std::nullopt;
  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::VerQueryValueA(block.data(), "\\", &fixed, &fixed_size) || !fixed ||
      fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  return static_cast<int>(HIWORD(info->dwFileVersionMS));
}

bool ShellMajorVersionAtLeast(int major) {
  const std::optional<int> version = ShellMajorVersion();
  return version && *version >= major;
}

DWORD TrayRecordSizeForShell(int shell_major) {
  if (shell_major >= 6) return NOTIFYICONDATAA_V3_SIZE;
  if (shell_major >= 5) return NOTIFYICONDATAA_V2_SIZE;
  return NOTIFYICONDATAA_V1_SIZE;
}

DWORD TrayRecordSize() {
  static const DWORD size = TrayRecordSizeForShell(ShellMajorVersion().value_or(0));
  return size;
}

void FillTrayText(char* field, std::size_t size, std::string_view text) {
  std::string value(text);
  value.push_back('\0');
  value.resize(std::max(value.size(), size), ' ');
  std::memcpy(field, value.data(), size);
}

TrayIcons TrayIcons::Load(HINSTANCE instance, int dpi) {
  if (dpi <= 0) dpi = ScreenDpi();
  const auto load = [&](int id) { return LoadIconForDpi(instance, id, dpi, true); };
  TrayIcons icons;
  icons.main = load(IDI_CORVAMON);
  for (int i = 0; i < CORVAMON_TRAY_BAT_COUNT; ++i) {
    icons.battery[static_cast<std::size_t>(i)] = load(IDI_TRAY_BAT_00 + i);
  }
  icons.no_usb = load(IDI_TRAY_NOUSB);
  return icons;
}

HICON TrayIcons::For(int picture) const {
  if (picture >= 0 && picture < static_cast<int>(battery.size())) {
    return battery[static_cast<std::size_t>(picture)].get();
  }
  if (picture == kTrayNoUsb) return no_usb.get();
  return main.get();
}

Systray::Systray(HWND main_window, TrayIcons icons, std::function<void()> restore, ShellCall shell)
    : window_(main_window),
      icons_(std::move(icons)),
      restore_(std::move(restore)),
      shell_(std::move(shell)),
      taskbar_created_(::RegisterWindowMessageW(L"TaskbarCreated")) {}

Systray::~Systray() {
  Unhook();
}

void Systray::SetIconFields(HICON icon, std::string_view tip) {
  record_.hWnd = window_;
  record_.uID = kTrayIconId;
  record_.uFlags = kTrayIconFlags;
  record_.uCallbackMessage = TrayCallbackMessage;
  record_.hIcon = icon;
  FillTrayText(record_.szTip, kTrayTipChars, Utf8ToAnsi(tip));
}

int Systray::Send(DWORD message) {
  if (record_.cbSize == 0) record_.cbSize = TrayRecordSize();
  return shell_ ? static_cast<int>(shell_(message, &record_)) : 0;
}

int Systray::AddTrayIcon(std::string_view tip) {
  SetIconFields(icons_.main.get(), tip);
  const int result = Send(NIM_ADD);
  icon_added_ = result == 1;
  icon_shown_ = icon_added_;
  return result;
}

int Systray::ModifyTrayIcon(int picture, std::string_view tip) {
  // Each frame on battery gives the charge again, most often the same: an icon that already
  // shows this picture and tip is not sent to the shell again (a call that costs the shell a
  // copy of the picture and a repaint).
  const HICON icon = icons_.For(picture);
  std::array<char, kTrayTipChars> wanted{};
  FillTrayText(wanted.data(), wanted.size(), Utf8ToAnsi(tip));
  if (icon_shown_ && record_.hIcon == icon &&
      std::memcmp(record_.szTip, wanted.data(), wanted.size()) == 0) {
    return 1;
  }
  SetIconFields(icon, tip);
  const int result = Send(NIM_MODIFY);
  icon_shown_ = result == 1;
  return result;
}

int Systray::DeleteTrayIcon() {
  const int result = Send(NIM_DELETE);
  icon_added_ = false;
  icon_shown_ = false;
  return result;
}

void Systray::ShowTrayBalloon(int kind, std::string_view title, std::string_view text) {
  record_.uFlags = kTrayBalloonFlags;
  FillTrayText(record_.szInfo, kTrayInfoChars, Utf8ToAnsi(text));
  record_.uTimeout = 0;
  FillTrayText(record_.szInfoTitle, kTrayInfoTitleChars, Utf8ToAnsi(title));
  record_.dwInfoFlags = static_cast<DWORD>(kind);
  Send(NIM_MODIFY);
}

void Systray::HookMainWindow() {
  // Hooking twice would make the procedure its own "previous" one.
  if (previous_ || !window_) return;
  if (!::SetPropW(window_, kSystrayProperty, this)) return;
  // An elevated monitor still hears from a restarted Explorer.
  if (taskbar_created_) {
    ::ChangeWindowMessageFilterEx(window_, taskbar_created_, MSGFLT_ALLOW, nullptr);
  }
  previous_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Systray::WindowProc)));
  if (!previous_) ::RemovePropW(window_, kSystrayProperty);
}

void Systray::UnhookMainWindow() {
  Unhook();
}

void Systray::Unhook() {
  if (!previous_) return;
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  ::RemovePropW(window_, kSystrayProperty);
  previous_ = nullptr;
}

LRESULT CALLBACK Systray::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  try {
    auto* self = static_cast<Systray*>(::GetPropW(hwnd, kSystrayProperty));
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    return self->OnMessage(hwnd, msg, wp, lp);
  } catch (...) {
    return 0;
  }
}

LRESULT Systray::OnMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (hwnd != window_) return PassOn(hwnd, msg, wp, lp);

  if (msg == TrayCallbackMessage) {
    ::SetForegroundWindow(window_);
    if (static_cast<UINT>(lp) == WM_LBUTTONDBLCLK) {
      if (restore_) {
        restore_();
      } else {
        RestoreWindow(window_);
      }
    }
    return 0;
  }

  if (taskbar_created_ != 0 && msg == taskbar_created_ && icon_added_) {
    // Explorer started again with an empty notification area: the icon goes back as it was.
    // The message goes on to the window whatever becomes of that.
    try {
      record_.uFlags = kTrayIconFlags;
      icon_shown_ = Send(NIM_ADD) == 1;
    } catch (...) {
    }
  }

  if (msg == WM_NCDESTROY) {
    // The window goes away still hooked: its own procedure gets the last word, then nothing
    // of ours is left on it.
    const WNDPROC previous = previous_;
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    ::RemovePropW(hwnd, kSystrayProperty);
    previous_ = nullptr;
    return ::CallWindowProcW(previous, hwnd, msg, wp, lp);
  }
  return PassOn(hwnd, msg, wp, lp);
}

LRESULT Systray::PassOn(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) const {
  if (!previous_) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return ::CallWindowProcW(previous_, hwnd, msg, wp, lp);
}

void HideToTray(HWND hwnd) {
  ::ShowWindow(hwnd, SW_SHOWMINIMIZED);
  ::ShowWindow(hwnd, SW_HIDE);
}

void RestoreWindow(HWND hwnd) {
  ::ShowWindow(hwnd, SW_SHOW);
  ::ShowWindow(hwnd, SW_SHOWDEFAULT);
}

void BringWindowToFront(HWND hwnd) {
  HWND foreground = ::GetForegroundWindow();
  // Already in front and in sight: nothing to do. A hidden window can be the foreground window
  // too (the mouse over the tray icon makes it so); that one must still be shown.
  if (foreground == hwnd && ::IsWindowVisible(hwnd) && !::IsIconic(hwnd)) return;
  const DWORD foreground_thread = foreground ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
  const DWORD target_thread = ::GetWindowThreadProcessId(hwnd, nullptr);
  if (foreground_thread == 0 || foreground_thread == target_thread) {
    ::SetForegroundWindow(hwnd);
  } else {
    // Sharing the foreground thread's input state lets the window take the foreground.
    ::AttachThreadInput(foreground_thread, target_thread, TRUE);
    ::SetForegroundWindow(hwnd);
    ::AttachThreadInput(foreground_thread, target_thread, FALSE);
  }
  ::ShowWindow(hwnd, ::IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
}

}  // namespace corva::win
