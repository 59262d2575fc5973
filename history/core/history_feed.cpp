#include "history_feed.h"

namespace corva::history {

std::optional<FrameReading> FrameFromStatus(const MonitorStatus& status, const LocalStamp& when) {
  if (!status.frame || status.readings == nullptr) return std::nullopt;
  const StatusReadings& r = *status.readings;
  FrameReading frame;
  frame.when = when;
  frame.on_battery = status.on_battery;
  frame.voltage = r.voltage;
  frame.frequency = r.frequency;
  frame.battery_read = r.battery_read;
  frame.battery = r.battery;
  frame.line = LineStateFromText(r.line_class);
  return frame;
}

}  // namespace corva::history
