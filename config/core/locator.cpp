#include "locator.h"

namespace corva::config {

std::int16_t HighestComPort(const ComPortQuery& exists) {
  std::int16_t highest = 1;
  for (int n = 1; n <= locator::kHighestPort; ++n) {
    if (exists(n)) highest = static_cast<std::int16_t>(n);
  }
  return highest;
}

Locator::Locator(SerialPort& Pto, LocatorView& view, ComPortQuery exists)
    : Pto_(Pto), view_(view), exists_(std::move(exists)) {
  Pto_.SetOnComm([this] { OnComm(); });
}

void Locator::Form_Load() {
  FoundPort = 0;
  firstPort = 1;
  lastPort = HighestComPort(exists_);
  scanDone = false;
  ScanPorts();
}

void Locator::ScanPorts() {
  if (firstPort > lastPort) {
    FoundPort = 0;
    scanDone = true;
    view_.EnableTimer1(true);
  }
  for (int p = firstPort; p <= lastPort; ++p) {
    view_.SetLabel2(std::to_string(p));
    // The port's settings, then the port: a port that is absent, taken or refuses the
    // settings is passed over.
    if (!Pto_.SetSettings("9600,N,8,1")) continue;
    Pto_.SetInputLen(0);
    Pto_.SetInputMode(1);
    Pto_.SetSThreshold(5);
    Pto_.SetRThreshold(5);
    Pto_.SetCommPort(p);
    if (!Pto_.SetPortOpen(true)) continue;
    currentPort = static_cast<std::int16_t>(p);
    Pto_.Input();  // what was waiting before we listened is not the UPS's answer
    return;
  }
}

void Locator::OnComm() {
  if (recognised_ || Pto_.CommEvent() != comm::kEventReceive) return;
  const int n = Pto_.InBufferCount();
  if (n <= locator::kMinBytes) return;  // they stay waiting for the next event
  const std::vector<std::uint8_t> bytes = Pto_.Input();
  std::string text;
  for (int i = 0; i < n && i < static_cast<int>(bytes.size()); ++i) {
    text += static_cast<char>(bytes[static_cast<std::size_t>(i)]);
  }
  text += ' ';
  text += std::to_string(n);
  if (text.find(locator::kStarMarker) != std::string::npos) {
    DataString = locator::kStarDataString;
  } else if (text.find(locator::kAmpMarker) != std::string::npos) {
    DataString = locator::kAmpDataString;
  } else {
    return;  // the port stays open; the next Timer2 tick moves on
  }
  recognised_ = true;
  const std::int16_t port = currentPort;
  view_.DoEvents();
  FoundPort = port;
  ClosePort();
  view_.SetLabel2(std::to_string(port));
  view_.SetLabel1(locator::kFound);
  scanDone = true;
  view_.EnableTimer1(true);
}

void Locator::Timer1_Timer() {
  if (!scanDone) return;
  view_.EnableTimer1(false);
  view_.Close();
}

void Locator::Timer2_Timer() {
  // Once the scan has ended (found, or every port tried) the ticks have nothing left to do.
  if (recognised_ || scanDone) return;
  ClosePort();
  ++firstPort;
  ScanPorts();
}

void Locator::Form_Unload() { ClosePort(); }

void Locator::ClosePort() {
  if (Pto_.PortOpen()) Pto_.SetPortOpen(false);
}

}  // namespace corva::config
