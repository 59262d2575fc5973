#include "history_recorder.h"

#include <utility>

#include "history_feed.h"

namespace corva::history {

namespace {

// Enough of the file's start for the line of names and a first row.
constexpr std::size_t kStartBytes = 1024;

}  // namespace

bool HistoryEnabled(std::optional<std::string_view> value) {
  if (!value) return true;
  std::string_view v = *value;
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v != "0";
}

HistoryRecorder::HistoryRecorder(HistoryStore& store, std::function<LocalStamp()> now,
                                 CsvFormat format, std::size_t capacity)
    : store_(store), now_(std::move(now)), format_(std::move(format)), pending_(capacity) {}

void HistoryRecorder::StatusChanged(const MonitorStatus& status) {
  const LocalStamp now = now_();
  if (const auto frame = FrameFromStatus(status, now)) {
    Queue(minutes_.Add(*frame));
  } else {
    Queue(minutes_.Tick(now));
  }
  Write();
}

void HistoryRecorder::EventHappened(MonitorEvent event) {
  const LocalStamp now = now_();
  // A minute that is over goes in before the event that follows it.
  Queue(minutes_.Tick(now));
  if (const auto row = EventRowFor(event, now)) pending_.PushEvent(EventRowText(*row, format_));
  Write();
}

void HistoryRecorder::Tick() {
  Queue(minutes_.Tick(now_()));
  Write();
}

void HistoryRecorder::Flush() {
  Queue(minutes_.Flush());
  Write();
}

void HistoryRecorder::Queue(const std::optional<MinuteRow>& row) {
  if (row) pending_.PushMinute(MinuteRowText(*row, format_));
}

void HistoryRecorder::Write() {
  pending_.Drain([this](std::string_view row) { return WriteRow(row); });
}

std::optional<YearMonth> HistoryRecorder::FileMonth() {
  const std::string start = store_.ReadStart(kHistoryFileName, kStartBytes);
  std::string_view rest = start;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    // A line cut by the end of what was read is not trusted.
    if (end == std::string_view::npos) break;
    if (const auto month = MonthOfRow(rest.substr(0, end))) return month;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

bool HistoryRecorder::WriteRow(std::string_view row) {
  if (const auto month = MonthOfRow(row)) {
    // The file may have been renamed, emptied or removed by hand: what it holds is looked at
    // again whenever a row's month differs from the one last seen.
    if (!file_month_known_ || file_month_ != month) {
      file_month_ = FileMonth();
      file_month_known_ = true;
    }
    if (file_month_ && *file_month_ < *month) {
      const Rollover plan = PlanRollover(file_month_, *month, store_.List());
      if (plan.rename_to && !store_.Rename(kHistoryFileName, *plan.rename_to)) return false;
      for (const std::string& name : plan.to_delete) store_.Remove(name);
      file_month_.reset();
    }
  }
  if (!store_.Append(kHistoryFileName, FileStartText(format_), row)) {
    file_month_known_ = false;
    return false;
  }
  if (!file_month_) {
    if (const auto month = MonthOfRow(row)) file_month_ = month;
  }
  return true;
}

}  // namespace corva::history
