#pragma once
// The monitor's main window as logic: start-up, first activation, unload, the buttons, the
// serial and USB status links, and the road of each status frame through the monitor's parts:
// decoded (status_decoder.h), its power events logged (power_events.h), the shutdown rules
// applied (shutdown_rules.h), and shown. On the USB link the frames are first put together from
// the device's reports (usb_frame_assembler.h). What the parts share is one MonitorState that
// Principal owns (monitor_state.h). The Win32 window turns messages into calls here and
// implements MainView.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "event_log.h"
#include "monitor_listener.h"
#include "monitor_settings.h"
#include "monitor_state.h"
#include "monitor_texts.h"
#include "ports.h"
#include "power_events.h"
#include "protocol.h"
#include "reboot.h"
#include "serial_frame_reader.h"
#include "serial_port.h"
#include "shutdown_rules.h"
#include "status_decoder.h"
#include "usb_frame_assembler.h"

namespace corva {

struct PrincipalPorts {
  MainView& view;
  SettingsStore& settings;
  SerialPort& MSComm1;  // status frames
  SerialPort& MSComm2;  // the turn-off command
  UsbLink& usb;
  ShellTray& tray;
  LogFile& log;
  Platform& platform;
  SystemShutdown& shutdown;
  OfficeSaver& office;
  // The user's documents folder, for saving Office documents when no folder is set.
  std::function<std::string()> DefaultSaveDirectory;
  // The modules beside the monitor (network server, power history); none by default.
  std::vector<MonitorListener*> listeners = {};
};

class Principal {
 public:
  explicit Principal(PrincipalPorts ports);
  Principal(const Principal&) = delete;
  Principal& operator=(const Principal&) = delete;

  // Window load. `program_directory` has no trailing backslash.
  void Load(const std::string& program_directory);
  // The window's activate event.
  void Activate();
  // The window closes for good: the log entries still waiting are written (waiting a while for a
  // locked log), the links closed and the tray icon removed. Events after it are ignored.
  void Unload();

  void IBClose_Click();
  void IBMin_Click();
  void IBMute_Click();
  void IBTest_Click() {}
  void ImgConn_Click();
  void ImgMainBat_DblClick();

  // MSComm1's communication event.
  void OnSerialEvent();
  // MSComm2's communication event.
  void OnTurnOffPortEvent();
  // A tick of one of the window's timers.
  void OnTimer(Timer timer);
  // The computer is about to sleep or hibernate. A link that fails from now until the wake is
  // the sleep's doing: it is closed without being reported lost.
  void Suspending();
  // The computer woke up (either of the system's two wake notices; the second of one wake does
  // nothing). The link is opened again: the same serial port, or a new search for the USB device,
  // whose handle died with the sleep and whose path may have changed. A link that is not back
  // after kResumeLinkSearches searches is reported lost as any other. The battery countdown
  // waits for the first frame after the wake to say whether the UPS is still on its battery.
  void Resumed();
  // Whether the link is being looked for again after a wake, not yet reported lost.
  bool ResumeSearchUnderWay() const { return resume_searches_left_ > 0; }

  // Sends the UPS the command to switch itself off after ApagaTNXMinutos minutes, on the serial
  // link: '%', a pause of 1.2 s, then the minutes. Answers whether both bytes left.
  bool SignalUpsTurnOffSerial();
  // Reads the USB reports that have come, within a tick's allowance, until a whole frame is in
  // FrameBuffer. Answers whether one is; it is not decoded here.
  bool AssembleUsbFrame();

  // The COM port the settings name for the UPS: CommPort when it is a port number from 1 to
  // 255 (and not "USB"), otherwise COM1.
  static int SerialPortFromSettings(const MonitorSettings& settings);
  // The COM port the status frames come from (and the turn-off command goes to).
  int StatusPort() const { return status_port_; }

  // The run's state, read-only.
  const MonitorSettings& Settings() const { return state_.Settings; }
  const std::vector<std::uint8_t>& FrameBuffer() const { return frame_buffer_; }
  std::int16_t FramePos() const { return usb_frames_.FramePos(); }
  bool UsbMode() const { return state_.UsbMode; }
  bool UsbOpen() const { return usb_open_; }
  bool UsbDisconnected() const { return state_.UsbDisconnected; }
  bool OnBattery() const { return state_.OnBattery; }
  bool ShutdownRequested() const { return state_.ShutdownRequested; }
  const std::string& LastLogEntry() const { return bitacora_.LastLogEntry(); }
  double BatteryPercent() const { return state_.BatteryPercent; }
  std::int16_t CountdownSeconds() const { return shutdown_.CountdownSeconds(); }
  std::int16_t DisconnectSeconds() const { return shutdown_.DisconnectSeconds(); }
  bool FirstActivation() const { return first_activation_; }
  bool TrayIconPresent() const { return tray_icon_present_; }

  // What the last frame decoded read.
  const StatusReadings& CurrentReadings() const { return state_.readings; }
  std::uint64_t ShutdownSequenceRuns() const { return shutdown_.ShutdownSequenceRuns(); }
  // Whether the system has taken the shutdown request.
  bool ShutdownAccepted() const { return shutdown_.ShutdownAccepted(); }
  const EventLogWriter& Log() const { return bitacora_.Writer(); }

  // The last frame handed to decoding (FrameLength bytes) and how many frames were decoded.
  const std::vector<std::uint8_t>& LastFrame() const { return last_frame_; }
  std::uint64_t FramesDecoded() const { return frames_decoded_; }
  // Whether FrameLength names a frame kind the monitor can read (9 or 10): from DataString, or
  // learned from the first frame header when DataString names none.
  bool FrameLengthUsable() const { return corva::FrameLengthUsable(state_.Settings.FrameLength); }

 private:
  // Decodes the frame held in FrameBuffer, applies its power events and shutdown rules, and
  // shows it.
  void ProcessStatusFrame();
  // Applies the frame's mode byte: line failure, return of power or the UPS's shutdown report.
  void ApplyOperatingMode(std::uint8_t mode);
  void ShowReadings();

  // The frame kind learned from the first header when DataString gave none the monitor can
  // read: frames are read from now on, and "Revise DataString en Corvamon.ini" goes.
  void LearnFrameLength(int frame_length);
  // The window's close: at once, or once the shutdown sequence under way has finished.
  void RequestUnload();
  void UnloadIfAskedDuringSequence();
  // Sets up MSComm1 for the status frames on `port` and opens it; answers whether it opened.
  bool SetUpSerialLink(int port);
  // Hides to the tray, or minimises when there is no tray icon to restore the window from.
  void HideWindow();
  void RestoreReceiveThreshold();
  // Sends the UPS's alarm-sound switch and shows the matching pictures on IBMute.
  void UpdateMuteButton();
  // One byte on MSComm2, waiting (with window messages running) until it has left the port.
  bool SendSerialByte(std::uint8_t byte);
  // Tells the UPS to switch itself off, on the link the frames come from; answers whether the
  // command left.
  bool SignalUpsTurnOff();
  // The serial device stopped answering: said in lblmsg, and the port is opened again every
  // 5 s until it answers.
  void SerialLinkLost();
  void TimerBuscaSerial_Timer();
  void ReopenSerialAfterWake();
  // What every wake does: the link opened again, the countdown held for the first frame.
  void AfterWake();

  // USB link (principal_usb.cpp).
  void TimerUSB_Timer();
  void HandleUsbDisconnect();
  void ReconnectUsb();
  void TimerBuscaUSB_Timer();
  void ReopenUsbAfterWake();
  // The USB device found again after a wake, quietly: answers whether it is open.
  bool FindUsbAfterWake();
  // A link that failed while the computer slept: closed, and left for the wake to open.
  void CloseLinkAsleep();

  // The modules are told what the window shows, never asked to wait.
  void TellStatus(bool frame);

  PrincipalPorts ports_;
  MonitorListeners listeners_;
  MonitorState state_;
  Bitacora bitacora_;
  PowerEvents power_events_;
  ShutdownRules shutdown_;
  UsbFrameAssembler usb_frames_;

  // The bytes of the frame being received: from FrameBuffer[0] on the serial link, from
  // FrameBuffer[1] on the USB link.
  std::vector<std::uint8_t> frame_buffer_;
  int status_port_ = protocol::kSerialPort;
  SerialFrameReader reader_{0};
  bool frame_received_ = false;
  std::vector<std::uint8_t> last_frame_;
  std::uint64_t frames_decoded_ = 0;
  bool usb_open_ = false;
  bool first_activation_ = false;
  bool tray_icon_present_ = false;
  // A tick or a search started again from inside DoEvents returns at once.
  bool usb_tick_running_ = false;
  bool usb_search_running_ = false;
  bool unloaded_ = false;
  bool bad_data_string_shown_ = false;
  // A close asked for while the shutdown sequence ran.
  bool unload_after_sequence_ = false;
  bool ups_shutdown_told_ = false;
  // MSComm2 reported its device gone while the turn-off command was under way.
  bool turn_off_port_lost_ = false;
  // Between the sleep notice and the wake.
  bool asleep_ = false;
  // The wake has been handled; the next sleep notice clears it.
  bool resume_handled_ = false;
  // After a wake: searches left before a link that has not come back is reported lost.
  int resume_searches_left_ = 0;
  // After a wake the battery countdown holds until a frame says where the power stands: the
  // time asleep is never counted as time on battery.
  bool countdown_held_for_frame_ = false;
};

// After a wake, how many link searches (TimerBuscaUSB / TimerBuscaSerial, 5 s apart) are made
// quietly before a link that has not come back is reported lost: a USB device takes some
// seconds to appear again after the computer wakes.
inline constexpr int kResumeLinkSearches = 6;

}  // namespace corva
