#include "pending_rows.h"

#include <algorithm>

namespace corva::history {

PendingRows::PendingRows(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void PendingRows::Push(bool event, std::string text) {
  if (rows_.size() >= capacity_) {
    ++dropped_;
    const auto minute =
        std::find_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.event; });
    if (minute != rows_.end()) {
      rows_.erase(minute);
    } else if (!event) {
      return;  // all events: the new minute row is the one to give up
    } else {
      rows_.pop_front();  // all events: the oldest goes
    }
  }
  rows_.push_back({event, std::move(text)});
}

std::size_t PendingRows::Drain(const std::function<bool(std::string_view row)>& write) {
  std::size_t written = 0;
  while (!rows_.empty() && write(rows_.front().text)) {
    rows_.pop_front();
    ++written;
  }
  return written;
}

}  // namespace corva::history
