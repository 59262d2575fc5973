#pragma once
// What the monitor's parts share while it runs: the settings, the link, the power state, the
// shutdown decision and what the last frame read. One record, owned by Principal and handed by
// reference to the parts that read or change it.

#include "event_log.h"
#include "monitor_settings.h"
#include "status_decoder.h"

namespace corva {

struct MonitorState {
  MonitorSettings Settings;
  // The user's separators for numbers, dates and times, read at start-up.
  Separators separators;
  // The status frames come over USB (else over the serial port).
  bool UsbMode = true;
  // The USB device was lost and has not been found again.
  bool UsbDisconnected = false;
  // The UPS runs on its battery: set by a line failure, cleared by the return of power.
  bool OnBattery = false;
  // The computer is to shut down: every later frame runs the shutdown sequence.
  bool ShutdownRequested = false;
  // The battery the last frame that reached its battery byte read.
  double BatteryPercent = 0;
  // What the last frame read.
  StatusReadings readings;
};

}  // namespace corva
