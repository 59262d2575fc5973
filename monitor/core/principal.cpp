#include "principal.h"

#include <algorithm>
#include <array>

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

Principal::Principal(PrincipalPorts ports) : ports_(std::move(ports)) {
  ports_.MSComm1.SetOnComm([this] { OnSerialEvent(); });
  ports_.MSComm2.SetOnComm([this] { OnTurnOffPortEvent(); });
}

bool Principal::FrameLengthUsable() const {
  return Settings.FrameLength == protocol::kAmpFrameLength ||
         Settings.FrameLength == protocol::kStarFrameLength;
}

void Principal::Load(const std::string& program_directory) {
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
  FramePos = 1;
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
    SetUpSerialLink();
    UsbMode = false;
    ports_.view.SetLinkPicture(LinkPicture::Serial);
    if (!ports_.MSComm1.PortOpen()) {
      ports_.view.ShowMessage(text::kNotFound, text::kMessageTitle);
      ports_.view.SetText(Control::lblmsg, text::kConnectionError);
    } else if (!FrameLengthUsable()) {
      // Without a frame length no status can be read: say so instead of showing nothing.
      ports_.view.SetText(Control::lblmsg, text::kBadDataString);
    }
  }

  LastLogEntry.clear();
}

void Principal::SetUpSerialLink() {
  SerialPort& port = ports_.MSComm1;
  port.SetCommPort(protocol::kSerialPort);
  port.SetSettings(protocol::kSerialSettings);
  port.SetInputLen(protocol::kSerialInputLen);
  port.SetInputMode(protocol::kSerialInputModeBinary);
  port.SetOutBufferSize(protocol::kSerialOutBufferSize);
  port.SetSThreshold(protocol::kSerialSThreshold);
  port.SetRThreshold(protocol::kSerialRThreshold);
  port.SetPortOpen(true);
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
  SerialPort& port = ports_.MSComm1;
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
  const std::size_t length = static_cast<std::size_t>(std::max<int>(0, Settings.FrameLength));
  const std::size_t first = UsbMode ? 1 : 0;
  if (FrameBuffer.size() < first + length) return;
  last_frame_.assign(FrameBuffer.begin() + static_cast<std::ptrdiff_t>(first),
                     FrameBuffer.begin() + static_cast<std::ptrdiff_t>(first + length));
  ++frames_decoded_;
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
