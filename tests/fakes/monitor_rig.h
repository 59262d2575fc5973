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

}  // namespace corva::fakes
