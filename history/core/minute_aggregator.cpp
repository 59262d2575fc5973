#include "minute_aggregator.h"

#include <algorithm>

namespace corva::history {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

std::int64_t UtcSeconds(const LocalStamp& s) {
  return DaysFromCivil(s.year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 + s.second -
         static_cast<std::int64_t>(s.utc_offset_minutes) * 60;
}

LocalStamp StampAt(std::int64_t utc, int offset_minutes) {
  const std::int64_t local = utc + offset_minutes * 60LL;
  std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  const std::int64_t rest = local - days * 86400;
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  LocalStamp s;
  s.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  s.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  s.year = static_cast<int>(yoe + era * 400 + (s.month <= 2 ? 1 : 0));
  s.hour = static_cast<int>(rest / 3600);
  s.minute = static_cast<int>(rest % 3600 / 60);
  s.second = static_cast<int>(rest % 60);
  s.utc_offset_minutes = offset_minutes;
  return s;
}

LineState LineStateFromText(std::string_view text) {
  if (text == "Baja") return LineState::Baja;
  if (text == "Alta") return LineState::Alta;
  if (text == "Sobrecarga") return LineState::Sobrecarga;
  return LineState::Normal;
}

void MinuteAggregator::CreditBattery(std::int64_t from, std::int64_t to) {
  if (!open_) return;
  const std::int64_t begin = std::max(from, open_->utc_start);
  const std::int64_t end = std::min(to, open_->utc_start + 60);
  if (end > begin) open_->row.seconds_on_battery += static_cast<int>(end - begin);
}

MinuteRow MinuteAggregator::Close() {
  MinuteRow row = open_->row;
  if (open_->voltage_count > 0) row.voltage_mean = open_->voltage_sum / open_->voltage_count;
  open_.reset();
  return row;
}

std::optional<MinuteRow> MinuteAggregator::Add(const FrameReading& frame) {
  const std::int64_t t = UtcSeconds(frame.when);
  const LocalStamp minute = MinuteStart(frame.when);
  const std::int64_t minute_utc = UtcSeconds(minute);

  // The time since the last frame is on battery when that frame was; a clock set back credits
  // nothing.
  const bool credit = have_last_ && last_on_battery_ && t > last_utc_;
  const std::int64_t from = last_utc_;
  const std::int64_t to = std::min(t, last_utc_ + kFrameHoldSeconds);
  if (credit) CreditBattery(from, to);

  std::optional<MinuteRow> closed;
  if (open_ && (open_->utc_start != minute_utc ||
                open_->row.minute.utc_offset_minutes != frame.when.utc_offset_minutes)) {
    closed = Close();
  }
  if (!open_) {
    open_ = Open{};
    open_->row.minute = minute;
    open_->utc_start = minute_utc;
    if (credit) CreditBattery(from, to);
  }

  MinuteRow& row = open_->row;
  if (!frame.on_battery && frame.voltage > 0) {
    row.voltage_min = std::min(row.voltage_min.value_or(frame.voltage), frame.voltage);
    row.voltage_max = std::max(row.voltage_max.value_or(frame.voltage), frame.voltage);
    open_->voltage_sum += frame.voltage;
    ++open_->voltage_count;
  }
  if (frame.frequency > 0) {
    row.frequency_min = std::min(row.frequency_min.value_or(frame.frequency), frame.frequency);
    row.frequency_max = std::max(row.frequency_max.value_or(frame.frequency), frame.frequency);
  }
  if (frame.battery_read) row.battery = frame.battery;
  // On battery the UPS reports its line as low: that is the outage, already counted in seconds,
  // not a minute of low voltage.
  if (!frame.on_battery) row.worst_line = std::max(row.worst_line, frame.line);

  have_last_ = true;
  last_utc_ = t;
  last_on_battery_ = frame.on_battery;
  return closed;
}

std::optional<MinuteRow> MinuteAggregator::Tick(const LocalStamp& now) {
  if (!open_ || UtcSeconds(now) < open_->utc_start + 60) return std::nullopt;
  return Flush();
}

std::optional<MinuteRow> MinuteAggregator::Flush() {
  if (!open_) return std::nullopt;
  if (have_last_ && last_on_battery_) CreditBattery(last_utc_, last_utc_ + kFrameHoldSeconds);
  // The next frame credits the rest of this frame's hold to its own minute only.
  return Close();
}

}  // namespace corva::history
