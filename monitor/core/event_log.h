#pragma once
// The event log Bitacora.txt: entry layout and its only writer. Entries that cannot be written
// (the file held locked by another program, a full disk) wait in memory, in order and with the
// time they happened, and go out ahead of the next entry, or when the program tries them again.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace corva {

inline constexpr char kLogFileName[] = "Bitacora.txt";

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The user's separators for numbers, dates and times.
struct Separators {
  std::string decimal = ".";
  std::string date = "/";
  std::string time = ":";
};

// Event text, "dd/mm/yyyy", two blanks, "Hh:Mm:Ss", then for each label a line break, a tab and
// the label. The final line break is added by the writer.
std::string BuildLogEntry(std::string_view event_text, const LocalTime& when,
                          const Separators& separators, const std::vector<std::string>& labels);

// Why the log file took nothing: another program holds it (it will let go), or the file or its
// folder may not be written at all (read-only, no rights), which no wait mends.
enum class LogFailure { None, Locked, Refused };

// The failure a Windows error code of opening the file means: only a sharing or lock violation
// is a lock; every other refusal lasts.
LogFailure LogFailureFromError(unsigned long error);

// Appends text to the log file: opened for appending (created when missing), written, closed.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // Answers how many bytes of `text`, from its start, are in the file: all of them, none (the
  // file cannot be opened) or part (the disk filled up during the write).
  virtual std::size_t Append(std::string_view text) = 0;
  // Why the last Append that wrote nothing failed.
  virtual LogFailure LastFailure() const { return LogFailure::Locked; }
};

class EventLogWriter {
 public:
  // How many entries may wait for the file before the oldest are given up.
  static constexpr std::size_t kMaxPending = 1000;

  explicit EventLogWriter(LogFile& file) : file_(file) {}

  // Writes `entry` followed by CR LF, after any entries still waiting. Answers whether this
  // entry reached the file now (when not, it waits for the next one).
  bool AppendLogEntry(std::string_view entry);
  // Tries the waiting entries again. Answers whether none is left waiting.
  bool WritePending();

  std::size_t Pending() const { return pending_.size(); }
  std::size_t Dropped() const { return dropped_; }

 private:
  bool Write();

  LogFile& file_;
  std::deque<std::string> pending_;
  // The first waiting entry is the rest of one whose start is in the file already.
  bool front_started_ = false;
  std::size_t dropped_ = 0;
};

}  // namespace corva
