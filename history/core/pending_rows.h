#pragma once
// The rows waiting while Historial.csv cannot be written (another program holds it locked): in
// order, at most a bounded number. When full the oldest minute row goes first; the events, the
// rows people look for, stay while there is any minute row to give up.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace corva::history {

class PendingRows {
 public:
  static constexpr std::size_t kDefaultCapacity = 10000;
  explicit PendingRows(std::size_t capacity = kDefaultCapacity);

  void PushMinute(std::string text) { Push(false, std::move(text)); }
  void PushEvent(std::string text) { Push(true, std::move(text)); }

  // Hands the rows out in order, each whole, until `write` answers false (the file is still
  // locked): that row and the ones after it stay. Answers how many went out.
  std::size_t Drain(const std::function<bool(std::string_view row)>& write);

  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  // Rows given up to keep the bound since the start.
  std::size_t dropped() const { return dropped_; }

 private:
  struct Row {
    bool event = false;
    std::string text;
  };
  void Push(bool event, std::string text);

  std::size_t capacity_;
  std::deque<Row> rows_;
  std::size_t dropped_ = 0;
};

}  // namespace corva::history
