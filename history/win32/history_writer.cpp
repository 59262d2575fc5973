#include "history_writer.h"

#include <map>

#include "text.h"
#include "unique_resource.h"

namespace corva::history::win {

namespace {

using corva::win::Narrow;
using corva::win::unique_file;
using corva::win::Widen;

constexpr UINT kTickMs = 10'000;

// Only the window's thread runs timers; the map is touched from it alone.
std::map<UINT_PTR, HistoryRecorder*>& Timers() {
  static std::map<UINT_PTR, HistoryRecorder*> timers;
  return timers;
}

bool WriteWhole(HANDLE file, std::string_view text) {
  DWORD written = 0;
  return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// Appends `text` whole or not at all: a part that went in (the disk filled up) is taken out.
bool AppendWhole(const std::wstring& path, const std::string& start, std::string_view row) {
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return false;
  std::string text = size.QuadPart == 0 ? start : std::string();
  text.append(row);
  if (!::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN)) return false;
  if (WriteWhole(file.get(), text)) return true;
  ::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN);
  ::SetEndOfFile(file.get());
  return false;
}

std::string ReadAll(const std::wstring& path) {
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text;
  if (!file) return text;
  char buffer[64 * 1024];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  return text;
}

}  // namespace

std::wstring WinHistoryStore::PathOf(std::string_view name) const {
  return folder_ + L"\\" + Widen(name);
}

bool WinHistoryStore::Append(std::string_view name, std::string_view start, std::string_view row) {
  return AppendWhole(PathOf(name), std::string(start), row);
}

std::string WinHistoryStore::ReadStart(std::string_view name, std::size_t max) {
  unique_file file(::CreateFileW(PathOf(name).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text(max, '\0');
  DWORD got = 0;
  if (!file || !::ReadFile(file.get(), text.data(), static_cast<DWORD>(max), &got, nullptr)) {
    return {};
  }
  text.resize(got);
  return text;
}

bool WinHistoryStore::Rename(std::string_view from, std::string_view to) {
  const std::wstring source = PathOf(from);
  const std::wstring target = PathOf(to);
  if (::MoveFileExW(source.c_str(), target.c_str(), 0)) return true;
  const DWORD error = ::GetLastError();
  if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  // The month's file is there already: its rows get these after them, without the second line
  // of names, and the old name goes. Should the old file refuse to go, the rows come out again
  // so that none is there twice.
  std::string rows = ReadAll(source);
  if (!rows.empty() && !MonthOfRow(rows.substr(0, rows.find('\n')))) {
    const std::size_t end = rows.find('\n');
    rows.erase(0, end == std::string::npos ? rows.size() : end + 1);
  }
  unique_file file(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) ||
      !::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN)) {
    return false;
  }
  if (WriteWhole(file.get(), rows) && ::DeleteFileW(source.c_str())) return true;
  ::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN);
  ::SetEndOfFile(file.get());
  return false;
}

std::vector<std::string> WinHistoryStore::List() {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = folder_ + L"\\Historial*.csv";
  const corva::win::unique_find search(::FindFirstFileW(pattern.c_str(), &found));
  if (!search) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      names.push_back(Narrow(found.cFileName));
    }
  } while (::FindNextFileW(search.get(), &found));
  return names;
}

void WinHistoryStore::Remove(std::string_view name) {
  ::DeleteFileW(PathOf(name).c_str());
}

LocalStamp LocalNow() {
  FILETIME utc_time{};
  ::GetSystemTimeAsFileTime(&utc_time);
  SYSTEMTIME utc{}, local{};
  ::FileTimeToSystemTime(&utc_time, &utc);
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME local_time{};
  ::SystemTimeToFileTime(&local, &local_time);
  auto ticks = [](const FILETIME& t) {
    return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                  t.dwLowDateTime);
  };
  constexpr long long kTicksPerMinute = 60LL * 10'000'000;
  const long long difference = ticks(local_time) - ticks(utc_time);
  // Both times carry the same fraction of a second: the difference is whole minutes, up to
  // the rounding of that fraction.
  const long long minutes =
      (difference + (difference < 0 ? -kTicksPerMinute / 2 : kTicksPerMinute / 2)) /
      kTicksPerMinute;
  LocalStamp stamp;
  stamp.year = local.wYear;
  stamp.month = local.wMonth;
  stamp.day = local.wDay;
  stamp.hour = local.wHour;
  stamp.minute = local.wMinute;
  stamp.second = local.wSecond;
  stamp.utc_offset_minutes = static_cast<int>(minutes);
  return stamp;
}

CsvFormat UserCsvFormat() {
  CsvFormat format;
  auto read = [](LCTYPE what, std::string& into) {
    wchar_t buffer[16] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, buffer, 16) > 1) into = Narrow(buffer);
  };
  read(LOCALE_SLIST, format.list_separator);
  read(LOCALE_SDECIMAL, format.decimal);
  return format;
}

bool HistorySettingOn(const std::wstring& settings_path) {
  // A default no file holds tells a missing key from an empty one.
  constexpr wchar_t kMissing[] = L"\x01";
  wchar_t value[64] = {};
  ::GetPrivateProfileStringW(L"Prefs", L"Historial", kMissing, value, 64, settings_path.c_str());
  if (std::wstring_view(value) == kMissing) return HistoryEnabled(std::nullopt);
  return HistoryEnabled(Narrow(value));
}

RecorderTimer::RecorderTimer(HistoryRecorder& recorder) {
  id_ = ::SetTimer(nullptr, 0, kTickMs, &RecorderTimer::OnTimer);
  if (id_ != 0) Timers()[id_] = &recorder;
}

RecorderTimer::~RecorderTimer() {
  if (id_ == 0) return;
  ::KillTimer(nullptr, id_);
  Timers().erase(id_);
}

void CALLBACK RecorderTimer::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  const auto found = Timers().find(id);
  if (found != Timers().end()) found->second->Tick();
}

}  // namespace corva::history::win
