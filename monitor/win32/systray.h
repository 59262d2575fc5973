#pragma once
// Systray: Corvamon's notification-area icon and the main window's replacement window
// procedure, which turns clicks on the icon into "come to the front" and "restore", and puts
// the icon back when Explorer restarts.
//
// The icon is described by one NOTIFYICONDATAA record that lives as long as the Systray and is
// kept between calls: every call rewrites only the fields it needs and hands the whole record to
// the shell. Texts travel in the ANSI code page.

#include <windows.h>
#include <shellapi.h>

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "ports.h"
#include "unique_resource.h"

namespace corva::win {

// The icon's id within the main window and the message the shell sends it.
inline constexpr UINT kTrayIconId = 125;
inline constexpr UINT TrayCallbackMessage = WM_USER + 1;  // 1025; the mouse message is in lParam
// uFlags for adding or changing the icon (message, icon, tip) and for a balloon.
inline constexpr UINT kTrayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
inline constexpr UINT kTrayBalloonFlags = NIF_INFO;                       // 16
// Lengths of the record's fixed text fields.
inline constexpr std::size_t kTrayTipChars = 128;
inline constexpr std::size_t kTrayInfoChars = 256;
inline constexpr std::size_t kTrayInfoTitleChars = 64;

// The major version of shell32.dll's fixed file version; empty when it cannot be read.
std::optional<int> ShellMajorVersion();
// Whether shell32.dll's major version is at least `major` (false when it cannot be read).
bool ShellMajorVersionAtLeast(int major);
// The record size the shell of that major version understands: 6 and later take the record with
// the item GUID, 5 the one with balloons, older ones the first, short form.
DWORD TrayRecordSizeForShell(int shell_major);
// The record size for this machine's shell, found once per process.
DWORD TrayRecordSize();

// Copies `text` into a fixed field of `size` characters the way the icon's texts have always
// been stored: the text, a zero character, then blanks to the end of the field, all cut to
// `size` (so a text of `size` or more characters arrives without its zero).
void FillTrayText(char* field, std::size_t size, std::string_view text);

// The pictures of the icon, loaded from the program's resources at the small-icon size the
// shell uses at `dpi` (GetSystemMetricsForDpi(SM_CXSMICON, dpi): 16 px at 96 DPI, 24 at 144,
// 32 at 192); 0 for the screen's DPI, which is the one the notification area is drawn at.
struct TrayIcons {
  unique_hicon main;                     // kTrayMainIcon
  std::array<unique_hicon, 11> battery;  // 0..10: charge in tenths
  unique_hicon no_usb;                   // kTrayNoUsb
  static TrayIcons Load(HINSTANCE instance, int dpi = 0);
  // The picture's icon; the main icon for a picture out of range.
  HICON For(int picture) const;
};

class Systray final : public ShellTray {
 public:
  // How a record reaches the shell; Shell_NotifyIconA unless a test listens in.
  using ShellCall = std::function<BOOL(DWORD message, NOTIFYICONDATAA* record)>;

  // `restore` is the main window's restore action (run on a double click on the icon); when
  // empty, RestoreWindow(main_window) is used.
  Systray(HWND main_window, TrayIcons icons, std::function<void()> restore,
          ShellCall shell = &::Shell_NotifyIconA);
  // Puts the main window's own procedure back if it is still hooked. The icon itself is the
  // core's to delete.
  ~Systray() override;
  Systray(const Systray&) = delete;
  Systray& operator=(const Systray&) = delete;

  // ShellTray
  int AddTrayIcon(std::string_view tip) override;
  int ModifyTrayIcon(int picture, std::string_view tip) override;
  int DeleteTrayIcon() override;
  void ShowTrayBalloon(int kind, std::string_view title, std::string_view text) override;
  void HookMainWindow() override;
  void UnhookMainWindow() override;

  bool hooked() const { return previous_ != nullptr; }
  // The record as the last call left it.
  const NOTIFYICONDATAA& record() const { return record_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT PassOn(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) const;
  void SetIconFields(HICON icon, std::string_view tip);
  int Send(DWORD message);
  void Unhook();

  HWND window_;
  TrayIcons icons_;
  std::function<void()> restore_;
  ShellCall shell_;
  NOTIFYICONDATAA record_{};
  WNDPROC previous_ = nullptr;
  const UINT taskbar_created_;
  bool icon_added_ = false;  // the last add succeeded and no delete followed
  // The shell took the last add or change of the icon, so it shows the record's icon and tip.
  bool icon_shown_ = false;
};

// Window operations of the main window.
// Minimises the window, then makes it invisible: only the tray icon is left.
void HideToTray(HWND hwnd);
// Makes the window visible and shows it the way it was started.
void RestoreWindow(HWND hwnd);
// Puts the window in front of whatever the user is working in, restoring it when minimised.
// Does nothing when it already is the foreground window and in sight.
void BringWindowToFront(HWND hwnd);

}  // namespace corva::win
