#pragma once
// Every fake the monitor's logic talks to, in one place, and the ports that join them.

#include <functional>
#include <string>

#include "fakes.h"
#include "principal.h"

namespace corva::fakes {

struct MonitorRig {
  FakeView view;
  FakeSettings ini;
  FakeSerialPort MSComm1, MSComm2;
  FakeUsb usb;
  FakeTray tray;
  FakeLogFile log;
  FakePlatform platform;
  FakeShutdown shutdown;
  FakeOffice office;

  PrincipalPorts Ports(std::function<std::string()> documents = {}) {
    return PrincipalPorts{view, ini,      MSComm1,  MSComm2, usb,
                          tray, log,      platform, shutdown, office,
                          std::move(documents)};
  }
};

// What the window shows for the frame decoded last: the frame's bytes, the four readings' labels
// and whether the monitor is on battery, in one line a test can compare.
inline std::string ShownFrame(const Principal& principal, const FakeView& view) {
  std::string line(principal.LastFrame().begin(), principal.LastFrame().end());
  for (const Control c : {Control::lblbat, Control::lblvolt, Control::lblfr, Control::lblop}) {
    line += '|';
    line += view.Text(c);
  }
  line += principal.OnBattery() ? "|battery" : "|line";
  return line;
}

}  // namespace corva::fakes
