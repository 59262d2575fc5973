#include "principal.h"

#include <algorithm>
#include <array>
#include <optional>

#include "corva_funciones.h"
#include "protocol.h"
#include "settings_rules.h"

namespace corva {
namespace {

// The USB command report: a command byte and padding to eight bytes.
std::array<std::uint8_t, 8> UsbCommand(std::uint8_t kind, std::uint8_t command,
                                       std::uint8_t argument = 0) {
  return {kind, command, argument, 0, 0, 0, 0, 0};
}

// How long a byte may take to leave the port before the send is given up.
constexpr int kSendTimeoutMs = 3000;

}  // namespace

Principal::Principal(PrincipalPorts ports) : ports_(std::move(ports)), log_(ports_.log) {
  ports_.MSComm1.SetOnComm([this] { OnSerialEvent(); });
  ports_.MSComm2.SetOnComm([this] { OnTurnOffPortEvent(); });
}

void Principal::Load(const std::string& program_directory) {
  separators_ = ports_.platform.UserSeparators();

  // Settings.
  Settings.SettingsPath = program_directory + "\\" + ini::kFileName;
  LoadSettings(Settings, [this](std::string_view section, std::string_view key) {
    return ports_.settings.Read(section, key);
  });
  Settings.FrameLength = FrameLengthFromDataString(Settings.DataString);

  // Folder for saving Office documents.
  if (Settings.PathOffice.empty() && Settings.GuardaOffice == 1 && ports_.DefaultSaveDirectory) {
    Settings.PathOffice = ports_.DefaultSaveDirectory();
  }
  Settings.PathOffice = NormalizeFolder(Settings.PathOffice);

  // Run state.
  UsbMode = true;
  usb_frames_.Restart();
  FrameBuffer.assign(static_cast<std::size_t>(std::max<int>(0, 2 * Settings.FrameLength + 1)), 0);
  UsbOpen = false;
  UsbDisconnected = false;
  ShutdownRequested = false;
  FirstActivation = true;
  CountdownSeconds = Settings.ApagaCuantosMinutos;
  DisconnectSeconds = Settings.ApagaDesconexionSegundos;
  reader_ = SerialFrameReader(Settings.FrameLength);

  // Buttons.
  if (Settings.MostrarMute == 1) {
    UpdateMuteButton();
  } else {
    ports_.view.SetVisible(Control::IBMute, false);
  }
  if (Settings.MostrarTest == 0) ports_.view.SetVisible(Control::IBTest, false);

  // The link: USB when the device is there, otherwise the serial port.
  if (ports_.usb.FindUsbDevice(text::kProductString)) {
    ports_.view.DoEvents();
    UsbOpen = true;
    ports_.view.EnableTimer(Timer::TimerUSB, true);
    ports_.view.SetLinkPicture(LinkPicture::Usb);
  } else {
    // The port Corvaset found; a stale one (the UPS moved back to COM1) never stops the
    // monitor: COM1 is tried before the connection is reported as failed.
    status_port_ = SerialPortFromSettings(Settings);
    if (!SetUpSerialLink(status_port_) && status_port_ != protocol::kSerialPort) {
      status_port_ = protocol::kSerialPort;
      SetUpSerialLink(status_port_);
    }
    UsbMode = false;
    ports_.view.SetLinkPicture(LinkPicture::Serial);
    if (!ports_.MSComm1.PortOpen()) {
      ports_.view.ShowMessage(text::kNotFound, text::kMessageTitle);
      ports_.view.SetText(Control::lblmsg, text::kConnectionError);
    }
  }
  if ((UsbOpen || ports_.MSComm1.PortOpen()) && !FrameLengthUsable()) {
    // Without a frame length no status can be read: say so instead of showing nothing.
    ports_.view.SetText(Control::lblmsg, text::kBadDataString);
  }

  LastLogEntry.clear();
}

int Principal::SerialPortFromSettings(const MonitorSettings& settings) {
  if (!settings.UsbMode && settings.CommPort >= 1 && settings.CommPort <= protocol::kHighestSerialPort) {
    return settings.CommPort;
  }
  return protocol::kSerialPort;
}

bool Principal::SetUpSerialLink(int port_number) {
  SerialPort& port = ports_.MSComm1;
  if (port.PortOpen()) port.SetPortOpen(false);
  port.SetCommPort(port_number);
  port.SetSettings(protocol::kSerialSettings);
  port.SetInputLen(protocol::kSerialInputLen);
  port.SetInputMode(protocol::kSerialInputModeBinary);
  port.SetOutBufferSize(protocol::kSerialOutBufferSize);
  port.SetSThreshold(protocol::kSerialSThreshold);
  port.SetRThreshold(protocol::kSerialRThreshold);
  return port.SetPortOpen(true);
}

void Principal::Activate() {
  if (!FirstActivation) return;
  FirstActivation = false;
  TrayIconPresent = ports_.tray.AddTrayIcon(text::kTrayTip) == 1;
  if (TrayIconPresent) {
    ports_.tray.HookMainWindow();
  } else {
    ports_.view.Restore();
  }
  // Without a tray icon there would be no way back to a hidden window, so it stays shown.
  if (Settings.IniciaMin == 1 && TrayIconPresent) ports_.view.HideToTray();
}

void Principal::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  WritePendingLog(kExitLogWaitMs);
  ports_.view.EnableTimer(Timer::TimerBitacora, false);
  if (UsbOpen) {
    ports_.usb.Close();
    UsbOpen = false;
  }
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  if (TrayIconPresent) {
    ports_.tray.DeleteTrayIcon();
    ports_.tray.UnhookMainWindow();
    TrayIconPresent = false;
  }
}

void Principal::HideWindow() {
  if (TrayIconPresent) {
    ports_.view.HideToTray();
  } else {
    ports_.view.Minimize();
  }
}

void Principal::IBClose_Click() {
  if (Settings.CierraconX == 1) {
    ports_.view.Unload();
  } else {
    HideWindow();
  }
}

void Principal::IBMin_Click() { HideWindow(); }

void Principal::IBMute_Click() {
  Settings.AlarmaConSonido = !Settings.AlarmaConSonido;
  UpdateMuteButton();
  ports_.settings.Write(ini::kPrefs, ini::kAlarmaConSonido, Settings.AlarmaConSonido ? "1" : "0");
}

void Principal::ImgConn_Click() { ports_.view.Unload(); }

void Principal::ImgMainBat_DblClick() {
  ports_.view.SetVisible(Control::lblidenti, false);
  if (!OnBattery) {
    // On the serial link there is no device to take it; the write fails quietly.
    ports_.usb.WriteUsbReport(UsbCommand(1, protocol::kCmdSelfTest));
  }
}

void Principal::UpdateMuteButton() {
  ports_.view.SetMutePictures(Settings.AlarmaConSonido);
  ports_.usb.WriteUsbReport(UsbCommand(
      1, Settings.AlarmaConSonido ? protocol::kCmdAlarmOn : protocol::kCmdAlarmOff));
}

void Principal::RestoreReceiveThreshold() {
  // While a frame's header is held waiting for the rest, ask for an event as soon as the rest
  // is there instead of waiting for five more bytes (the next frame).
  const int missing = reader_.Missing();
  const int wanted = missing > 0 ? std::min(missing, protocol::kSerialRThreshold)
                                 : protocol::kSerialRThreshold;
  if (ports_.MSComm1.RThreshold() != wanted) ports_.MSComm1.SetRThreshold(wanted);
}

void Principal::OnSerialEvent() {
  if (unloaded_) return;
  SerialPort& port = ports_.MSComm1;
  if (port.CommEvent() == comm::kEventLost) {
    SerialLinkLost();
    return;
  }
  if (port.CommEvent() == protocol::kCommEventReceive) {
    if (!FrameLengthUsable()) {
      port.Input();  // nothing can be read without a frame length; keep the port drained
      return;
    }
    if (!reader_.Enough(port.InBufferCount())) return;
    const std::vector<std::uint8_t> waiting = port.Input();
    auto frame = reader_.Push(waiting);
    RestoreReceiveThreshold();
    if (!frame) return;
    FrameBuffer = std::move(*frame);
    frame_received_ = true;
  } else if (!frame_received_) {
    return;  // other events decode the last frame again; there is none yet
  }
  ProcessStatusFrame();
}

void Principal::ProcessStatusFrame() {
  last_frame_ = FrameFromBuffer(FrameBuffer, Settings.FrameLength, UsbMode);
  ++frames_decoded_;
  readings_ = DecodeStatusFrame(last_frame_, UsbMode, OnBattery);
  if (readings_.battery_read) BatteryPercent = readings_.battery;
  if (readings_.mode) ApplyOperatingMode(*readings_.mode);

  if (LastLogEntry.empty() && Settings.Bitacora != 0) {
    WriteLogEntry(text::kLogStart,
                  {text::kLabelOperation + readings_.mode_text, text::kLabelVoltage + VoltageText(),
                   text::kLabelFrequency + FrequencyText(), text::kLabelLine + readings_.line_class,
                   text::kLabelBattery + BatteryText()},
                  true);
  }

  const auto rounded = RoundHalfEven16(readings_.battery);
  if (OnBattery) {
    if (ports_.view.IsVisible(Control::lblidenti)) ports_.view.SetVisible(Control::lblidenti, false);
    if (rounded) {
      const int member = std::clamp(*rounded / 10, 0, 10);
      ports_.tray.ModifyTrayIcon(member, text::kTrayBatteryTip +
                                             FormatNumber(readings_.battery, "##0",
                                                          separators_.decimal) + "%");
    }
  } else if (!ports_.view.IsVisible(Control::lblidenti)) {
    ports_.view.SetVisible(Control::lblidenti, true);
  }

  ports_.view.SetText(Control::lblbat, BatteryText());
  if (rounded && *rounded / 10 >= 0 && *rounded / 10 <= 10) ports_.view.SetGauge(*rounded / 10);
  ports_.view.SetText(Control::lblfr, FrequencyText());

  if (OnBattery) {
    ports_.view.SetText(Control::lblvolt, text::kMonitoring);
    ports_.view.SetText(Control::lblop, readings_.mode_text);
  } else {
    ports_.view.SetText(Control::lblvolt, VoltageText());
    ports_.view.SetText(Control::lblop, readings_.line_class);
    if (readings_.line_class == kOverload) ShutdownRequested = true;
  }

  if (ShutdownRequested) {
    // A refused shutdown is absorbed here; the next frame asks again.
    try {
      RunShutdownSequence();
    } catch (const CorvaError&) {
    }
  }
}

std::string Principal::BatteryText() const { return corva::BatteryText(readings_, separators_); }

std::string Principal::VoltageText() const {
  return corva::VoltageText(readings_, OnBattery, separators_);
}

std::string Principal::FrequencyText() const {
  return corva::FrequencyText(readings_, separators_);
}

std::string Principal::ApplyOperatingMode(std::uint8_t mode) {
  switch (mode) {
    case '0':
      if (OnBattery) {  // return of power
        ports_.tray.ModifyTrayIcon(kTrayMainIcon, text::kTrayMainTip);
        if (Settings.NotifAviso == 1) {
          ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, text::kBalloonReturn);
        }
        if (Settings.Bitacora != 0) WriteLogEntry(text::kLogReturn, {}, false);
        OnBattery = false;
        UsbDisconnected = false;
        HideWindow();
      }
      break;
    case '1':
      OnPowerFailure();
      ApplyBatteryRules();
      break;
    case '2':
      if (Settings.Bitacora != 0) {
        WriteLogEntry(text::kLogForcedShutdown,
                      {text::kLabelBatteryExhausted, text::kLabelBattery + BatteryText()}, true);
      }
      ShutdownRequested = true;
      break;
    default:
      break;
  }
  return ModeTextFromByte(mode);
}

void Principal::OnPowerFailure() {
  if (!OnBattery) {
    if (Settings.Bitacora != 0) {
      WriteLogEntry(text::kLogFailure, {text::kLabelOnBattery, text::kLabelBattery + BatteryText()},
                    true);
    }
    if (Settings.NotifAviso == 1) {
      ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, text::kBalloonFailure);
    }
    if (Settings.NotifMaximiza == 1) ports_.view.BringWindowToFront();
  }
  OnBattery = true;
}


void Principal::OnTimer(Timer timer) {
  if (unloaded_) return;
  switch (timer) {
    case Timer::TimerUSB: TimerUSB_Timer(); break;
    case Timer::TimerBuscaUSB: TimerBuscaUSB_Timer(); break;
    case Timer::Timerdesconexion: Timerdesconexion_Timer(); break;
    case Timer::TimerApagar: TimerApagar_Timer(); break;
    case Timer::TimerBitacora: TimerBitacora_Timer(); break;
    case Timer::TimerBuscaSerial: TimerBuscaSerial_Timer(); break;
  }
}

void Principal::SerialLinkLost() {
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  reader_.Clear();
  ports_.view.SetVisible(Control::lblmsg, true);
  ports_.view.SetText(Control::lblmsg, text::kConnectionError);
  if (!ports_.view.TimerEnabled(Timer::TimerBuscaSerial)) {
    ports_.view.EnableTimer(Timer::TimerBuscaSerial, true);
  }
}

void Principal::TimerBuscaSerial_Timer() {
  if (!ports_.MSComm1.PortOpen() && !SetUpSerialLink(status_port_)) return;  // not back yet
  ports_.view.EnableTimer(Timer::TimerBuscaSerial, false);
  ports_.view.SetText(Control::lblmsg, "");
}

void Principal::TimerBitacora_Timer() {
  if (log_.WritePending()) ports_.view.EnableTimer(Timer::TimerBitacora, false);
}

bool Principal::WritePendingLog(int wait_ms) {
  if (log_.WritePending()) return true;
  const bool written = ports_.view.WaitWhile([this] { return !log_.WritePending(); }, wait_ms);
  if (written) ports_.view.EnableTimer(Timer::TimerBitacora, false);
  return written;
}

void Principal::WriteLogEntry(std::string_view event_text, const std::vector<std::string>& labels,
                              bool remember) {
  const std::string entry = BuildLogEntry(event_text, ports_.platform.Now(), separators_, labels);
  if (remember) LastLogEntry = entry;
  if (log_.AppendLogEntry(entry)) {
    if (ports_.view.TimerEnabled(Timer::TimerBitacora)) {
      ports_.view.EnableTimer(Timer::TimerBitacora, false);
    }
  } else if (!ports_.view.TimerEnabled(Timer::TimerBitacora)) {
    // Nothing else may come to carry the waiting entries out: try them again on a timer.
    ports_.view.EnableTimer(Timer::TimerBitacora, true);
  }
}

void Principal::OnTurnOffPortEvent() {
  if (ports_.MSComm2.CommEvent() == protocol::kCommEventSend) {
    ports_.view.SetText(Control::lblmsg, text::kSentOk);
  }
}

bool Principal::SendSerialByte(std::uint8_t byte) {
  SerialPort& port = ports_.MSComm2;
  const std::uint8_t bytes[1] = {byte};
  if (!port.Output(bytes)) return false;
  return ports_.view.WaitWhile([&port] { return port.OutBufferCount() > 0; }, kSendTimeoutMs);
}

bool Principal::SignalUpsTurnOffSerial() {
  const auto minutes =
      static_cast<std::uint8_t>(std::clamp<int>(Settings.ApagaTNXMinutos, 0, 255));
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  SerialPort& port = ports_.MSComm2;
  // The command goes to the UPS that sends the frames.
  if (port.PortOpen() && port.CommPort() != status_port_) port.SetPortOpen(false);
  port.SetCommPort(status_port_);
  if (!port.PortOpen() && !port.SetPortOpen(true)) return false;

  bool sent = SendSerialByte(protocol::kCmdTurnOff);
  if (sent) {
    ports_.view.Pause(protocol::kTurnOffPauseMs);
    sent = SendSerialByte(minutes);
  }
  if (sent) {
    ports_.view.SetText(Control::lblmsg,
                        "TNX se apaga en " + std::to_string(minutes) + " minutos");
  }
  if (port.PortOpen()) port.SetPortOpen(false);
  ports_.view.DoEvents();
  return sent;
}

}  // namespace corva
