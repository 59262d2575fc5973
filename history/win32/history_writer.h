#pragma once
// The history's Windows side: its files in the program's folder, the user's clock and regional
// settings, and a timer that closes a minute when the link goes quiet.

#include <windows.h>

#include <string>

#include "history_recorder.h"

namespace corva::history::win {

class WinHistoryStore final : public HistoryStore {
 public:
  explicit WinHistoryStore(std::wstring folder) : folder_(std::move(folder)) {}
  bool Append(std::string_view name, std::string_view start, std::string_view row) override;
  std::string ReadStart(std::string_view name, std::size_t max) override;
  bool Rename(std::string_view from, std::string_view to) override;
  std::vector<std::string> List() override;
  void Remove(std::string_view name) override;

 private:
  std::wstring PathOf(std::string_view name) const;
  std::wstring folder_;
};

// The user's clock now, with the UTC offset in force.
LocalStamp LocalNow();
// The list separator and decimal sign of the user's regional settings.
CsvFormat UserCsvFormat();
// [Prefs] Historial of the settings file.
bool HistorySettingOn(const std::wstring& settings_path);

// Calls the recorder's Tick every few seconds on this thread, while it lives.
class RecorderTimer {
 public:
  explicit RecorderTimer(HistoryRecorder& recorder);
  ~RecorderTimer();
  RecorderTimer(const RecorderTimer&) = delete;
  RecorderTimer& operator=(const RecorderTimer&) = delete;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
  UINT_PTR id_ = 0;
};

}  // namespace corva::history::win
