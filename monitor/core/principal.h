#pragma once
// The monitor's main window as logic: its state for the whole run, start-up, first activation,
// unload, the buttons, and the serial status link. The Win32 window turns messages into calls
// here and implements MainView.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "event_log.h"
#include "monitor_settings.h"
#include "monitor_texts.h"
#include "ports.h"
#include "protocol.h"
#include "reboot.h"
#include "serial_frame_reader.h"
#include "serial_port.h"
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
};

class Principal {
 public:
  explicit Principal(PrincipalPorts ports);

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

  // Sends the UPS the command to switch itself off after ApagaTNXMinutos minutes, on the serial
  // link: '%', a pause of 1.2 s, then the minutes. Answers whether both bytes left.
  bool SignalUpsTurnOffSerial();
  // One byte on MSComm2, waiting (with window messages running) until it has left the port.
  bool SendSerialByte(std::uint8_t byte);

  // Decodes the frame held in FrameBuffer and shows it.
  void ProcessStatusFrame();
  // Applies the frame's mode byte: line failure, return of power or the UPS's shutdown report.
  // Answers the mode text.
  std::string ApplyOperatingMode(std::uint8_t mode);
  void OnPowerFailure();
  // The shutdown sequence: save documents, tell the UPS to switch off, shut Windows down.
  void RunShutdownSequence();

  // A tick of one of the window's timers.
  void OnTimer(Timer timer);

  // USB link (principal_usb.cpp).
  // Reads the USB reports that have come, within a tick's allowance, until a whole frame is in
  // FrameBuffer. Answers whether one is; it is not decoded here.
  bool AssembleUsbFrame();
  void HandleUsbDisconnect();
  void ReconnectUsb();
  void TimerUSB_Timer();
  void TimerBuscaUSB_Timer();

  // Writes the log entries still waiting, trying again for up to `wait_ms` while another program
  // holds the log locked. Answers whether none is left waiting.
  bool WritePendingLog(int wait_ms);

  // Shutdown rules and countdowns (principal_shutdown.cpp).
  void ApplyBatteryRules();
  void TimerApagar_Timer();
  void Timerdesconexion_Timer();
  void SignalUpsTurnOff();

  // Sends the UPS's alarm-sound switch and shows the matching pictures on IBMute.
  void UpdateMuteButton();

  // The COM port the settings name for the UPS: CommPort when it is a port number from 1 to
  // 255 (and not "USB"), otherwise COM1.
  static int SerialPortFromSettings(const MonitorSettings& settings);
  // The COM port the status frames come from (and the turn-off command goes to).
  int StatusPort() const { return status_port_; }

  // State shared by the monitor's parts, under its own names.
  MonitorSettings Settings;
  std::vector<std::uint8_t> FrameBuffer;
  bool UsbMode = true;
  bool UsbOpen = false;
  bool UsbDisconnected = false;
  bool OnBattery = false;
  bool ShutdownRequested = false;
  std::string LastLogEntry;
  double BatteryPercent = 0;
  std::int16_t CountdownSeconds = 0;
  std::int16_t DisconnectSeconds = 0;
  bool FirstActivation = false;
  bool TrayIconPresent = false;

  // Where the next byte of the USB frame begun goes in FrameBuffer (1 between frames).
  std::int16_t FramePos() const { return usb_frames_.FramePos(); }

  // What the last frame decoded read.
  const StatusReadings& CurrentReadings() const { return readings_; }
  std::uint64_t ShutdownSequenceRuns() const { return shutdown_runs_; }
  // Whether the system has taken the shutdown request.
  bool ShutdownAccepted() const { return shutdown_accepted_; }
  const EventLogWriter& Log() const { return log_; }

  // The last frame handed to decoding (FrameLength bytes) and how many frames were decoded.
  const std::vector<std::uint8_t>& LastFrame() const { return last_frame_; }
  std::uint64_t FramesDecoded() const { return frames_decoded_; }
  // Whether FrameLength names a frame kind the monitor can read (9 or 10).
  bool FrameLengthUsable() const { return corva::FrameLengthUsable(Settings.FrameLength); }

 private:
  // Sets up MSComm1 for the status frames on `port` and opens it; answers whether it opened.
  bool SetUpSerialLink(int port);
  int status_port_ = protocol::kSerialPort;
  // Hides to the tray, or minimises when there is no tray icon to restore the window from.
  void HideWindow();
  void RestoreReceiveThreshold();
  // Builds an entry stamped now, remembers it as LastLogEntry when asked, and writes it.
  void WriteLogEntry(std::string_view event_text, const std::vector<std::string>& labels,
                     bool remember);
  std::string BatteryText() const;
  std::string VoltageText() const;
  std::string FrequencyText() const;

  // A tick or a search started again from inside DoEvents returns at once.
  bool usb_tick_running_ = false;
  bool usb_search_running_ = false;

  PrincipalPorts ports_;
  UsbFrameAssembler usb_frames_{ports_.usb};
  SerialFrameReader reader_{0};
  bool frame_received_ = false;
  std::vector<std::uint8_t> last_frame_;
  std::uint64_t frames_decoded_ = 0;
  EventLogWriter log_;
  StatusReadings readings_;
  Separators separators_;
  std::uint64_t shutdown_runs_ = 0;
  // The sequence (documents, UPS signal) runs once; a refused shutdown is asked for again.
  bool shutdown_prepared_ = false;
  bool shutdown_accepted_ = false;
  bool shutdown_running_ = false;
  void DecideShutdown(std::string_view event_text);
  void TimerBitacora_Timer();
  // The serial device stopped answering: said in lblmsg, and the port is opened again every
  // 5 s until it answers.
  void SerialLinkLost();
  void TimerBuscaSerial_Timer();
  bool unloaded_ = false;
};

// How long the program waits for a locked log before it ends or shuts the computer down.
inline constexpr int kExitLogWaitMs = 5000;

}  // namespace corva
