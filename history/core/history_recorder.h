#pragma once
// The history as the monitor feeds it: each frame goes into its minute, each finished minute and
// each power event becomes a row, and the rows go into Historial.csv in order, one whole row at
// a time. While the file cannot be written the rows wait (bounded) and go in later, still in
// order. The file of a month that is over gets its monthly name before a row of the new month
// goes in.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history_files.h"
#include "history_rows.h"
#include "minute_aggregator.h"
#include "monitor_listener.h"
#include "pending_rows.h"

namespace corva::history {

// The folder the history's files live in.
class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  // Appends `row` to the file, creating it; a file that is new or empty gets `start` (the line
  // of column names) first, in the same write. True only when all of it went in; otherwise
  // nothing of it stays in the file (another program holds it, the folder cannot be written,
  // the disk is full).
  virtual bool Append(std::string_view name, std::string_view start, std::string_view row) = 0;
  // The file's first bytes, up to `max` (empty when it is missing or unreadable).
  virtual std::string ReadStart(std::string_view name, std::size_t max) = 0;
  // Gives the file its new name. When a file of that name is already there (the clock went back
  // and forth) the rows are added to it and the old name removed. False when it cannot be done
  // now (the file is held open).
  virtual bool Rename(std::string_view from, std::string_view to) = 0;
  // The names of the files in the folder.
  virtual std::vector<std::string> List() = 0;
  virtual void Remove(std::string_view name) = 0;
};

// "Historial" in [Prefs]: only "0" turns the history off; missing, empty or anything else keeps it.
bool HistoryEnabled(std::optional<std::string_view> value);

class HistoryRecorder final : public MonitorListener {
 public:
  HistoryRecorder(HistoryStore& store, std::function<LocalStamp()> now, CsvFormat format,
                  std::size_t capacity = PendingRows::kDefaultCapacity);

  void StatusChanged(const MonitorStatus& status) override;
  void EventHappened(MonitorEvent event) override;
  // Called now and then: closes a minute that is over even when no frame follows it (the link
  // went quiet), and retries rows that wait for the file.
  void Tick();
  // The program is ending: the open minute's row too, and whatever the file takes.
  void Flush();

  std::size_t pending() const { return pending_.size(); }
  std::size_t dropped() const { return pending_.dropped(); }

 private:
  void Queue(const std::optional<MinuteRow>& row);
  void Write();
  bool WriteRow(std::string_view row);
  std::optional<YearMonth> FileMonth();

  HistoryStore& store_;
  std::function<LocalStamp()> now_;
  CsvFormat format_;
  MinuteAggregator minutes_;
  PendingRows pending_;
  // The month of the rows in Historial.csv as last seen (nothing: no rows, or not looked yet).
  std::optional<YearMonth> file_month_;
  bool file_month_known_ = false;
};

}  // namespace corva::history
