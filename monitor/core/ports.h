#pragma once
// What the monitor's logic needs from the outside world. The Win32 layer implements each port;
// tests use fakes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "event_log.h"

namespace corva {

// Controls of the main window that the logic changes.
enum class Control {
  lblvolt,
  lblfr,
  lblbat,
  lblop,
  lblmsg,
  lblidenti,
  IBClose,
  IBMin,
  IBMute,
  IBTest,
};

// The main window's timers; all disabled when the window is created. TimerBitacora tries the
// log entries that wait for a locked Bitacora.txt again, and runs only while any wait.
// TimerBuscaSerial opens a serial port that was lost again, and runs only while it is lost.
// TimerHibernar waits, once hibernation was asked for, for the computer to go down; it runs only
// then.
enum class Timer {
  TimerUSB,
  TimerBuscaUSB,
  Timerdesconexion,
  TimerApagar,
  TimerBitacora,
  TimerBuscaSerial,
  TimerHibernar
};
inline constexpr int kTimerCount = 7;
inline constexpr int TimerIntervalMs(Timer t) {
  return t == Timer::TimerBuscaUSB || t == Timer::TimerBuscaSerial ? 5000
         : t == Timer::TimerBitacora                               ? 2000
                                                                   : 1000;
}

enum class LinkPicture { Serial, Usb };

// The main window as the logic sees it.
class MainView {
 public:
  virtual ~MainView() = default;
  virtual void SetText(Control control, std::string_view text) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  virtual void EnableTimer(Timer timer, bool enabled) = 0;
  virtual bool TimerEnabled(Timer timer) const = 0;
  // IBMute shows the sound-on pictures (ImgBocina) or the sound-off pictures (ImgMute).
  virtual void SetMutePictures(bool sound_on) = 0;
  // ImgConn member 0 takes the serial or USB picture.
  virtual void SetLinkPicture(LinkPicture picture) = 0;
  // IMBatG takes the picture of IBatF member `member` (0..10).
  virtual void SetGauge(int member) = 0;
  virtual bool IsVisible(Control control) const = 0;
  // Brings the main window in front of whatever the user is working in.
  virtual void BringWindowToFront() = 0;
  // A modal message box with an OK button.
  virtual void ShowMessage(std::string_view text, std::string_view title) = 0;
  // Lets pending window messages be processed once.
  virtual void DoEvents() = 0;
  // Waits about `ms` milliseconds while window messages keep being processed.
  virtual void Pause(int ms) = 0;
  // Processes window messages until `busy` answers false or `timeout_ms` passes, without
  // spinning; answers whether `busy` became false.
  virtual bool WaitWhile(const std::function<bool()>& busy, int timeout_ms) = 0;
  // The restore request: make the window visible and show it normally.
  virtual void Restore() = 0;
  virtual void HideToTray() = 0;
  // Minimises the window to the taskbar (used while there is no tray icon to come back from).
  virtual void Minimize() = 0;
  // Closes the main window for good; the program ends with it.
  virtual void Unload() = 0;
};

// Corvamon.ini.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string Read(std::string_view section, std::string_view key) = 0;
  virtual bool Write(std::string_view section, std::string_view key, std::string_view value) = 0;
};

// What one read of the USB link gave.
struct UsbRead {
  enum class Status {
    Report,   // a report is in the buffer
    Nothing,  // no report came within the wait
    Lost,     // the device is gone (unplugged, or silent for too long); the link is closed
  };
  Status status = Status::Nothing;
  std::size_t size = 0;  // bytes of the report in the buffer, report id first
};

// The UPS as a USB HID device. The monitor's side of it is HidUsbLink (usb_link.h); tests put
// their own device behind that.
class UsbLink {
 public:
  virtual ~UsbLink() = default;
  // Looks for the device whose product string is exactly `product` and keeps the first one
  // found open. A device held before is closed first.
  virtual bool FindUsbDevice(std::string_view product) = 0;
  // One input report (report id, then the device's bytes) into `buffer`, waiting at most
  // `wait_ms` for it.
  virtual UsbRead ReadUsbReport(std::span<std::uint8_t> buffer, int wait_ms) = 0;
  // One output report: report id 0 followed by `payload`. Nothing goes out while no device is
  // open; false when nothing went out.
  virtual bool WriteUsbReport(std::span<const std::uint8_t> payload) = 0;
  virtual void Close() = 0;
};

// Pictures of the notification-area icon: the window's icon, the charge pictures IIBat 0..10,
// or the picture of a lost USB device.
inline constexpr int kTrayMainIcon = -1;
inline constexpr int kTrayNoUsb = 11;

// The notification-area icon and the main window's replacement window procedure.
class ShellTray {
 public:
  virtual ~ShellTray() = default;
  // Each answers the shell's result: 1 on success.
  virtual int AddTrayIcon(std::string_view tip) = 0;
  virtual int ModifyTrayIcon(int picture, std::string_view tip) = 0;
  virtual int DeleteTrayIcon() = 0;
  // A balloon notice on the icon; `kind` 1 is information.
  virtual void ShowTrayBalloon(int kind, std::string_view title, std::string_view text) = 0;
  virtual void HookMainWindow() = 0;
  virtual void UnhookMainWindow() = 0;
};

// Saving the documents open in Office before the computer goes down.
class OfficeSaver {
 public:
  virtual ~OfficeSaver() = default;
  virtual void SaveAllOffice(const std::string& folder) = 0;
};

// Time and the user's regional settings.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual LocalTime Now() const = 0;
  virtual Separators UserSeparators() const = 0;
};

}  // namespace corva
