#pragma once
// Folds the frames of each minute into one row of the history: lowest, mean and highest output
// voltage, lowest and highest frequency, the battery at the end of the minute, the seconds on
// battery and the worst line state. A minute with no frames gives no row.

#include <cstdint>
#include <optional>
#include <string_view>

#include "local_stamp.h"

namespace corva::history {

// Ordered from best to worst.
enum class LineState { Normal, Baja, Alta, Sobrecarga };

// The line class the decoder writes ("Normal", "Baja", "Alta", "Sobrecarga"); anything else is
// Normal, as the decoder reads an unknown byte.
LineState LineStateFromText(std::string_view text);

// What one decoded frame read, and when.
struct FrameReading {
  LocalStamp when;
  bool on_battery = false;
  // A voltage of 0 is a frame the decoder could not read it from, not a reading.
  double voltage = 0;
  double frequency = 0;
  // Only a frame that reaches its battery byte says anything about the battery.
  bool battery_read = false;
  double battery = 0;
  LineState line = LineState::Normal;
};

struct MinuteRow {
  // Second 0 of the minute, with the offset of its frames.
  LocalStamp minute;
  // On battery the frames carry no voltage: a minute all on battery has none.
  std::optional<double> voltage_min, voltage_mean, voltage_max;
  std::optional<double> frequency_min, frequency_max;
  std::optional<double> battery;
  int seconds_on_battery = 0;
  // Of the line-power frames: on battery the UPS reports its line as low, which is the outage.
  LineState worst_line = LineState::Normal;
};

class MinuteAggregator {
 public:
  // A frame's state (on battery or not) counts until the next frame, but for no longer than
  // this: frames come once a second, and a silent link is a gap, not time on battery.
  static constexpr int kFrameHoldSeconds = 5;

  // Takes a frame. A frame of another minute (a later one, or an earlier one after the clock was
  // set back, or the same one under another UTC offset) closes the open minute: its row.
  std::optional<MinuteRow> Add(const FrameReading& frame);
  // The open minute's row once `now` is past its end; nothing while it lasts.
  std::optional<MinuteRow> Tick(const LocalStamp& now);
  // The open minute's row as it stands (the program is ending).
  std::optional<MinuteRow> Flush();

 private:
  struct Open {
    MinuteRow row;
    std::int64_t utc_start = 0;
    double voltage_sum = 0;
    int voltage_count = 0;
  };
  void CreditBattery(std::int64_t from, std::int64_t to);
  MinuteRow Close();

  std::optional<Open> open_;
  bool have_last_ = false;
  std::int64_t last_utc_ = 0;
  bool last_on_battery_ = false;
};

}  // namespace corva::history
