#pragma once
// The clock, the user's regional separators and the event log file, on Windows.

#include <string>

#include "event_log.h"
#include "ports.h"

namespace corva::win {

class WinPlatform final : public Platform {
 public:
  LocalTime Now() const override;
  Separators UserSeparators() const override;
};

// Bitacora.txt: each entry opens the file for appending (creating it when missing), writes the
// text in the ANSI code page and closes it again, so other programs can read or empty it
// between entries.
class WinLogFile final : public LogFile {
 public:
  explicit WinLogFile(std::wstring path) : path_(std::move(path)) {}
  std::size_t Append(std::string_view text) override;
  LogFailure LastFailure() const override { return last_failure_; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  LogFailure last_failure_ = LogFailure::None;
};

}  // namespace corva::win
