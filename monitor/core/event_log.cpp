#include "event_log.h"

#include <cstdio>

namespace corva {
namespace {

std::string TwoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), "%02d", value % 100);
  return buffer;
}

}  // namespace

std::string BuildLogEntry(std::string_view event_text, const LocalTime& when,
                          const Separators& separators, const std::vector<std::string>& labels) {
  char year[8];
  std::snprintf(year, sizeof(year), "%04d", when.year % 10000);
  std::string entry(event_text);
  entry += TwoDigits(when.day) + separators.date + TwoDigits(when.month) + separators.date + year;
  entry += "  ";
  entry += TwoDigits(when.hour) + separators.time + TwoDigits(when.minute) + separators.time +
           TwoDigits(when.second);
  for (const std::string& label : labels) {
    entry += "\r\n\t";
    entry += label;
  }
  return entry;
}

bool EventLogWriter::AppendLogEntry(std::string_view entry) {
  pending_.emplace_back(entry);
  pending_.back() += "\r\n";
  std::string text;
  for (const std::string& waiting : pending_) text += waiting;
  if (file_.Append(text)) {
    pending_.clear();
    return true;
  }
  while (pending_.size() > kMaxPending) {
    pending_.pop_front();
    ++dropped_;
  }
  return false;
}

}  // namespace corva
