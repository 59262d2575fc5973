#pragma once
// What the monitor reports after each frame, as the history takes it.

#include <optional>

#include "local_stamp.h"
#include "minute_aggregator.h"
#include "monitor_listener.h"

namespace corva::history {

// The frame a status report follows, read at `when`; nothing for a report of the link alone.
std::optional<FrameReading> FrameFromStatus(const MonitorStatus& status, const LocalStamp& when);

}  // namespace corva::history
