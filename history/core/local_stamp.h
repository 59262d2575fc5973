#pragma once
// A moment as the user's clock showed it, with the UTC offset in force then, so that the hour
// repeated when summer time ends still names one moment only.

#include <cstdint>

namespace corva::history {

struct LocalStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // Local time minus UTC, in minutes (-360 for UTC-06:00).
  int utc_offset_minutes = 0;
  bool operator==(const LocalStamp&) const = default;
};

// Seconds since 1970-01-01T00:00:00Z of the moment the stamp names.
std::int64_t UtcSeconds(const LocalStamp& stamp);

// The stamp that names the moment `utc` (seconds since 1970-01-01T00:00:00Z) on a clock at
// `offset_minutes` from UTC.
LocalStamp StampAt(std::int64_t utc, int offset_minutes);

// The stamp at the start of its minute (second 0, same offset).
inline LocalStamp MinuteStart(LocalStamp stamp) {
  stamp.second = 0;
  return stamp;
}

}  // namespace corva::history
