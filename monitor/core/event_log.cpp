#include "event_log.h"

#include <algorithm>
#include <cstdio>

namespace corva {
namespace {

std::string TwoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), "%02d", value % 100);
  return buffer;
}

// Windows' ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION.
constexpr unsigned long kSharingViolation = 32;
constexpr unsigned long kLockViolation = 33;

}  // namespace

LogFailure LogFailureFromError(unsigned long error) {
  if (error == 0) return LogFailure::None;
  return error == kSharingViolation || error == kLockViolation ? LogFailure::Locked
                                                               : LogFailure::Refused;
}

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
  return Write();
}

bool EventLogWriter::WritePending() { return pending_.empty() || Write(); }

bool EventLogWriter::Write() {
  std::string text;
  for (const std::string& waiting : pending_) text += waiting;
  std::size_t landed = std::min(file_.Append(text), text.size());
  // What is in the file leaves the queue; an entry written in part waits with its rest only,
  // so no text is ever written twice.
  while (landed > 0 && !pending_.empty()) {
    std::string& front = pending_.front();
    if (landed >= front.size()) {
      landed -= front.size();
      pending_.pop_front();
      front_started_ = false;
    } else {
      front.erase(0, landed);
      landed = 0;
      front_started_ = true;
    }
  }
  // Past the limit the oldest whole entries are given up; the rest of an entry already begun in
  // the file is kept, so that the file never holds half an entry run into the next.
  while (pending_.size() > kMaxPending) {
    pending_.erase(pending_.begin() + (front_started_ ? 1 : 0));
    ++dropped_;
  }
  return pending_.empty();
}

}  // namespace corva
