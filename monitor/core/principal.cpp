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

Principal::Principal(PrincipalPorts ports)
    : ports_(std::move(ports)),
      listeners_(ports_.listeners),
      bitacora_(state_, ports_.log, ports_.view, ports_.platform),
      power_events_(state_, bitacora_, ports_.tray, ports_.view),
      shutdown_(
          state_, bitacora_, ports_.view, ports_.office, ports_.shutdown,
          [this] { return SignalUpsTurnOff(); }, listeners_),
      usb_frames_(ports_.usb) {
  ports_.MSComm1.SetOnComm([this] { OnSerialEvent(); });
  ports_.MSComm2.SetOnComm([this] { OnTurnOffPortEvent(); });
}

void Principal::Load(const std::string& program_directory) {
  state_.separators = ports_.platform.UserSeparators();

  // Settings.
  MonitorSettings& Settings = state_.Settings;
  Settings.SettingsPath = program_directory + "\\" + ini::kFileName;
  LoadSettings(Settings, [this](std::string_view section, std::string_view key) {
    return ports_.settings.Read(section, key);
  });
  Settings.FrameLength = FrameLengthFromDataString(Settings.DataString);
  Settings.Hibernar = ports_.settings.Read(ini::kApaga, ini::kHibernar) == "1";

  // Folder for saving Office documents.
  if (Settings.PathOffice.empty() && Settings.GuardaOffice == 1 && ports_.DefaultSaveDirectory) {
    Settings.PathOffice = ports_.DefaultSaveDirectory();
  }
  Settings.PathOffice = NormalizeFolder(Settings.PathOffice);

  // Run state.
  state_.UsbMode = true;
  usb_frames_.Restart();
  frame_buffer_.assign(static_cast<std::size_t>(std::max<int>(0, 2 * Settings.FrameLength + 1)), 0);
  usb_open_ = false;
  state_.UsbDisconnected = false;
  state_.ShutdownRequested = false;
  first_activation_ = true;
  shutdown_.ResetCountdowns();
  reader_ = SerialFrameReader(Settings.FrameLength);

  // Buttons.
  if (Settings.MostrarMute == 1) {
    UpdateMuteButton();
  } else {
    ports_.view.SetVisible(Control::IBMute, false);
  }
  if (Settings.MostrarTest == 0) ports_.view.SetVisible(Control::IBTest, false);

  // Said before the link, whose errors take lblmsg over.
  shutdown_.CheckHibernationAtStart();

  // The link: USB when the device is there, otherwise the serial port.
  if (ports_.usb.FindUsbDevice(text::kProductString)) {
    ports_.view.DoEvents();
    usb_open_ = true;
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
    state_.UsbMode = false;
    ports_.view.SetLinkPicture(LinkPicture::Serial);
    if (!ports_.MSComm1.PortOpen()) {
      ports_.view.ShowMessage(text::kNotFound, text::kMessageTitle);
      ports_.view.SetText(Control::lblmsg, text::kConnectionError);
    }
  }
  if ((usb_open_ || ports_.MSComm1.PortOpen()) && !FrameLengthUsable()) {
    // Without a frame length no status can be read until the first header says which kind of
    // frame comes: say so instead of showing nothing.
    ports_.view.SetText(Control::lblmsg, text::kBadDataString);
    bad_data_string_shown_ = true;
  }

  bitacora_.ForgetLastEntry();
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
  if (!first_activation_) return;
  first_activation_ = false;
  tray_icon_present_ = ports_.tray.AddTrayIcon(text::kTrayTip) == 1;
  if (tray_icon_present_) {
    ports_.tray.HookMainWindow();
  } else {
    ports_.view.Restore();
  }
  // Without a tray icon there would be no way back to a hidden window, so it stays shown.
  if (state_.Settings.IniciaMin == 1 && tray_icon_present_) ports_.view.HideToTray();
}

void Principal::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  bitacora_.WritePending(kExitLogWaitMs);
  ports_.view.EnableTimer(Timer::TimerBitacora, false);
  if (usb_open_) {
    ports_.usb.Close();
    usb_open_ = false;
  }
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  if (tray_icon_present_) {
    ports_.tray.DeleteTrayIcon();
    ports_.tray.UnhookMainWindow();
    tray_icon_present_ = false;
  }
}

void Principal::HideWindow() {
  if (tray_icon_present_) {
    ports_.view.HideToTray();
  } else {
    ports_.view.Minimize();
  }
}

void Principal::LearnFrameLength(int frame_length) {
  MonitorSettings& Settings = state_.Settings;
  Settings.FrameLength = static_cast<std::int16_t>(frame_length);
  frame_buffer_.resize(static_cast<std::size_t>(2 * frame_length + 1), 0);
  if (reader_.FrameLength() != frame_length) reader_ = SerialFrameReader(frame_length);
  if (bad_data_string_shown_) {
    bad_data_string_shown_ = false;
    ports_.view.SetText(Control::lblmsg, "");
  }
}

void Principal::RequestUnload() {
  // The shutdown sequence lets window messages run while it saves documents and talks to the
  // UPS. Closing the window then would close the links before the UPS is told to switch itself
  // off: the window goes once the sequence has finished.
  if (shutdown_.SequenceRunning()) {
    unload_after_sequence_ = true;
    return;
  }
  ports_.view.Unload();
}

void Principal::UnloadIfAskedDuringSequence() {
  if (!unload_after_sequence_ || shutdown_.SequenceRunning()) return;
  unload_after_sequence_ = false;
  ports_.view.Unload();
}

void Principal::IBClose_Click() {
  if (state_.Settings.CierraconX == 1) {
    RequestUnload();
  } else {
    HideWindow();
  }
}

void Principal::IBMin_Click() { HideWindow(); }

void Principal::IBMute_Click() {
  MonitorSettings& Settings = state_.Settings;
  Settings.AlarmaConSonido = !Settings.AlarmaConSonido;
  UpdateMuteButton();
  ports_.settings.Write(ini::kPrefs, ini::kAlarmaConSonido, Settings.AlarmaConSonido ? "1" : "0");
}

void Principal::ImgConn_Click() {
  RequestUnload();
}

void Principal::ImgMainBat_DblClick() {
  ports_.view.SetVisible(Control::lblidenti, false);
  if (!state_.OnBattery) {
    // On the serial link there is no device to take it; the write fails quietly.
    ports_.usb.WriteUsbReport(UsbCommand(1, protocol::kCmdSelfTest));
  }
}

void Principal::UpdateMuteButton() {
  const bool sound_on = state_.Settings.AlarmaConSonido;
  ports_.view.SetMutePictures(sound_on);
  ports_.usb.WriteUsbReport(
      UsbCommand(1, sound_on ? protocol::kCmdAlarmOn : protocol::kCmdAlarmOff));
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
    if (!reader_.Enough(port.InBufferCount())) return;
    const std::vector<std::uint8_t> waiting = port.Input();
    auto frame = reader_.Push(waiting);
    // Without a usable DataString the reader has learned the kind from the first header.
    if (!FrameLengthUsable() && corva::FrameLengthUsable(reader_.FrameLength())) {
      LearnFrameLength(reader_.FrameLength());
    }
    RestoreReceiveThreshold();
    if (!frame) return;
    frame_buffer_ = std::move(*frame);
    frame_received_ = true;
  } else if (!frame_received_) {
    return;  // other events decode the last frame again; there is none yet
  }
  ProcessStatusFrame();
}

void Principal::ProcessStatusFrame() {
  countdown_held_for_frame_ = false;
  last_frame_ = FrameFromBuffer(frame_buffer_, state_.Settings.FrameLength, state_.UsbMode);
  ++frames_decoded_;
  state_.readings = DecodeStatusFrame(last_frame_, state_.UsbMode, state_.OnBattery);
  if (state_.readings.battery_read) state_.BatteryPercent = state_.readings.battery;
  if (state_.readings.mode) ApplyOperatingMode(*state_.readings.mode);
  power_events_.WriteStartEntry();
  ShowReadings();
  TellStatus(true);

  if (!state_.OnBattery && state_.readings.line_class == kOverload) state_.ShutdownRequested = true;
  if (state_.ShutdownRequested) {
    // A refused shutdown is absorbed here; the next frame asks again.
    try {
      shutdown_.RunShutdownSequence();
    } catch (const CorvaError&) {
    }
    UnloadIfAskedDuringSequence();
  }
}

void Principal::TellStatus(bool frame) {
  MonitorStatus status;
  status.frame = frame;
  status.link_lost = state_.UsbMode ? state_.UsbDisconnected : !ports_.MSComm1.PortOpen();
  status.on_battery = state_.OnBattery;
  status.battery_percent = state_.BatteryPercent;
  status.readings = &state_.readings;
  status.settings = &state_.Settings;
  listeners_.StatusChanged(status);
}

void Principal::ApplyOperatingMode(std::uint8_t mode) {
  const bool was_on_battery = state_.OnBattery;
  const PowerEvent event = power_events_.ApplyOperatingMode(mode);
  if (!was_on_battery && state_.OnBattery) listeners_.EventHappened(MonitorEvent::PowerFailure);
  if (was_on_battery && !state_.OnBattery) listeners_.EventHappened(MonitorEvent::PowerReturn);
  if (event == PowerEvent::UpsShutdown && !ups_shutdown_told_) {
    ups_shutdown_told_ = true;
    listeners_.EventHappened(MonitorEvent::UpsShutdownReport);
  }
  switch (event) {
    case PowerEvent::PowerReturned:
      HideWindow();
      break;
    case PowerEvent::RunningOnBattery:
      shutdown_.ApplyBatteryRules();
      break;
    case PowerEvent::None:
    case PowerEvent::UpsShutdown:
      break;
  }
}

void Principal::ShowReadings() {
  const StatusReadings& readings = state_.readings;
  const Separators& separators = state_.separators;
  const auto rounded = RoundHalfEven16(readings.battery);
  if (state_.OnBattery) {
    if (ports_.view.IsVisible(Control::lblidenti)) ports_.view.SetVisible(Control::lblidenti, false);
    if (rounded) {
      const int member = std::clamp(*rounded / 10, 0, 10);
      ports_.tray.ModifyTrayIcon(member, text::kTrayBatteryTip +
                                             FormatNumber(readings.battery, "##0",
                                                          separators.decimal) + "%");
    }
  } else if (!ports_.view.IsVisible(Control::lblidenti)) {
    ports_.view.SetVisible(Control::lblidenti, true);
  }

  ports_.view.SetText(Control::lblbat, BatteryText(readings, separators));
  if (rounded && *rounded / 10 >= 0 && *rounded / 10 <= 10) ports_.view.SetGauge(*rounded / 10);
  ports_.view.SetText(Control::lblfr, FrequencyText(readings, separators));

  if (state_.OnBattery) {
    ports_.view.SetText(Control::lblvolt, text::kMonitoring);
    ports_.view.SetText(Control::lblop, readings.mode_text);
  } else {
    ports_.view.SetText(Control::lblvolt, VoltageText(readings, false, separators));
    ports_.view.SetText(Control::lblop, readings.line_class);
  }
}

void Principal::OnTimer(Timer timer) {
  if (unloaded_) return;
  switch (timer) {
    case Timer::TimerUSB: TimerUSB_Timer(); break;
    case Timer::TimerBuscaUSB: TimerBuscaUSB_Timer(); break;
    case Timer::Timerdesconexion:
      shutdown_.Timerdesconexion_Timer();
      UnloadIfAskedDuringSequence();
      break;
    case Timer::TimerApagar:
      if (!countdown_held_for_frame_) shutdown_.TimerApagar_Timer();
      break;
    case Timer::TimerBitacora: bitacora_.TimerBitacora_Timer(); break;
    case Timer::TimerBuscaSerial: TimerBuscaSerial_Timer(); break;
    case Timer::TimerHibernar:
      // A refused shutdown is absorbed here, as after a frame: the next frame asks again.
      try {
        if (shutdown_.TimerHibernar_Timer()) {
          // Woken without the notice: the link opened again as at any wake.
          ups_shutdown_told_ = false;
          AfterWake();
        }
      } catch (const CorvaError&) {
      }
      UnloadIfAskedDuringSequence();
      break;
  }
}

void Principal::Suspending() {
  if (unloaded_) return;
  asleep_ = true;
  resume_handled_ = false;
  shutdown_.Suspending();
}

void Principal::Resumed() {
  // After a hibernation of the monitor's own the wake counts even when the sleep notice never
  // came (the window was inside the hibernation call when it was sent).
  if (unloaded_ || (resume_handled_ && !shutdown_.Hibernating())) return;
  resume_handled_ = true;
  if (shutdown_.WakeFromHibernation()) ups_shutdown_told_ = false;
  AfterWake();
}

void Principal::AfterWake() {
  asleep_ = false;
  // Ticks stop while the computer sleeps; until a frame comes, the power state is the one from
  // before the sleep, and the countdown must not count down on it.
  countdown_held_for_frame_ = true;
  if (state_.UsbMode) {
    ReopenUsbAfterWake();
  } else {
    ReopenSerialAfterWake();
  }
}

void Principal::CloseLinkAsleep() {
  // The wake opens it again. Should its notice never come, the quiet search opens it as soon as
  // the timers run again, and a link still away after it is reported.
  resume_searches_left_ = kResumeLinkSearches;
  if (state_.UsbMode) {
    ports_.usb.Close();
    usb_frames_.Restart();
    usb_open_ = false;
    ports_.view.EnableTimer(Timer::TimerUSB, false);
    ports_.view.EnableTimer(Timer::TimerBuscaUSB, true);
  } else {
    if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
    reader_.Clear();
    ports_.view.EnableTimer(Timer::TimerBuscaSerial, true);
  }
}

void Principal::ReopenSerialAfterWake() {
  reader_.Clear();
  if (ports_.view.TimerEnabled(Timer::TimerBuscaSerial) && resume_searches_left_ == 0) {
    // Lost and reported before the sleep: it is looked for now, and its return said as ever.
    TimerBuscaSerial_Timer();
    return;
  }
  // The handle from before the sleep may be dead even where it still looks open.
  if (SetUpSerialLink(status_port_)) {
    resume_searches_left_ = 0;
    ports_.view.EnableTimer(Timer::TimerBuscaSerial, false);
    return;
  }
  resume_searches_left_ = kResumeLinkSearches;
  ports_.view.EnableTimer(Timer::TimerBuscaSerial, true);
}

void Principal::SerialLinkLost() {
  if (asleep_) {
    CloseLinkAsleep();
    return;
  }
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  reader_.Clear();
  ports_.view.SetVisible(Control::lblmsg, true);
  ports_.view.SetText(Control::lblmsg, text::kConnectionError);
  if (!ports_.view.TimerEnabled(Timer::TimerBuscaSerial)) {
    ports_.view.EnableTimer(Timer::TimerBuscaSerial, true);
    listeners_.EventHappened(MonitorEvent::LinkLost);
    TellStatus(false);
  }
}

void Principal::TimerBuscaSerial_Timer() {
  if (resume_searches_left_ > 0) {
    if (SetUpSerialLink(status_port_)) {
      resume_searches_left_ = 0;
      ports_.view.EnableTimer(Timer::TimerBuscaSerial, false);
    } else if (--resume_searches_left_ == 0) {
      // Not back after the wake's searches: lost, and said so. A sleep notice that old is no
      // sleep any more.
      asleep_ = false;
      ports_.view.EnableTimer(Timer::TimerBuscaSerial, false);
      SerialLinkLost();
    }
    return;
  }
  if (!ports_.MSComm1.PortOpen() && !SetUpSerialLink(status_port_)) return;  // not back yet
  ports_.view.EnableTimer(Timer::TimerBuscaSerial, false);
  ports_.view.SetText(Control::lblmsg, "");
  listeners_.EventHappened(MonitorEvent::LinkFound);
  TellStatus(false);
}

void Principal::OnTurnOffPortEvent() {
  // The port's device went away (a USB-serial adapter pulled, the cable's far end gone): the
  // writes it still takes are lost with it.
  if (ports_.MSComm2.CommEvent() == comm::kEventLost) turn_off_port_lost_ = true;
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
      static_cast<std::uint8_t>(std::clamp<int>(state_.Settings.ApagaTNXMinutos, 0, 255));
  if (ports_.MSComm1.PortOpen()) ports_.MSComm1.SetPortOpen(false);
  SerialPort& port = ports_.MSComm2;
  // The command goes to the UPS that sends the frames.
  if (port.PortOpen() && port.CommPort() != status_port_) port.SetPortOpen(false);
  port.SetCommPort(status_port_);
  turn_off_port_lost_ = false;
  if (!port.PortOpen() && !port.SetPortOpen(true)) return false;

  bool sent = SendSerialByte(protocol::kCmdTurnOff) && !turn_off_port_lost_;
  if (sent) {
    ports_.view.Pause(protocol::kTurnOffPauseMs);
    // A device gone during the pause gets no minutes: the UPS was not told.
    sent = !turn_off_port_lost_ && SendSerialByte(minutes) && !turn_off_port_lost_;
  }
  if (sent) {
    ports_.view.SetText(Control::lblmsg,
                        "TNX se apaga en " + std::to_string(minutes) + " minutos");
  }
  if (port.PortOpen()) port.SetPortOpen(false);
  ports_.view.DoEvents();
  return sent;
}

bool Principal::SignalUpsTurnOff() {
  if (state_.UsbMode) {
    const auto minutes =
        static_cast<std::uint8_t>(std::clamp<int>(state_.Settings.ApagaTNXMinutos, 0, 255));
    const std::array<std::uint8_t, 8> report{2, protocol::kCmdTurnOff, minutes, 0, 0, 0, 0, 0};
    const bool sent = ports_.usb.WriteUsbReport(report);
    ports_.view.DoEvents();
    return sent;
  }
  const bool sent = SignalUpsTurnOffSerial();
  // The status port made way for the turn-off command; open it again so that frames keep
  // coming: a refused shutdown is asked again by the next frame.
  reader_.Clear();
  SetUpSerialLink(status_port_);
  return sent;
}

}  // namespace corva
