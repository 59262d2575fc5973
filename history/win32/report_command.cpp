#include "report_command.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "monitor_texts.h"
#include "report.h"
#include "text.h"
#include "unique_resource.h"

namespace corva::history::win {

namespace {

using corva::win::Narrow;
using corva::win::Widen;

struct find_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(pointer p) noexcept { return p != INVALID_HANDLE_VALUE; }
  static void close(pointer p) noexcept { ::FindClose(p); }
};
using unique_find = corva::win::unique_resource<find_traits>;

// The moment now, with the UTC offset the user's clock has now.
LocalStamp Now() {
  FILETIME utc{}, local{};
  ::GetSystemTimeAsFileTime(&utc);
  ::FileTimeToLocalFileTime(&utc, &local);
  SYSTEMTIME t{};
  ::FileTimeToSystemTime(&local, &t);
  const auto ticks = [](const FILETIME& f) {
    return static_cast<long long>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                                  f.dwLowDateTime);
  };
  const long long offset_minutes = (ticks(local) - ticks(utc)) / 600'000'000LL;
  return {
      t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, static_cast<int>(offset_minutes)};
}

std::string UserDecimalSign() {
  wchar_t sign[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, sign, 8) <= 1) return ".";
  return Narrow(sign);
}

std::vector<std::string> HistoryFileNames(const std::wstring& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  unique_find find(::FindFirstFileW((folder + L"\\Historial*.csv").c_str(), &found));
  if (!find) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.push_back(Narrow(found.cFileName));
    }
  } while (::FindNextFileW(find.get(), &found));
  return names;
}

// Feeds one file to the report in pieces that end at a line end. The file is shared for
// reading and writing, so a running Corvamon keeps appending to it meanwhile. A file that
// cannot be opened is left out.
void ReadHistoryFile(const std::wstring& path, PowerReport& report) {
  corva::win::unique_file file(::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return;
  std::string text;
  std::vector<char> chunk(1 << 20);
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
         got > 0) {
    text.append(chunk.data(), got);
    const std::size_t last = text.rfind('\n');
    if (last == std::string::npos) continue;
    report.AddText(std::string_view(text).substr(0, last + 1));
    text.erase(0, last + 1);
  }
  report.AddText(text);
}

bool WriteWhole(const std::wstring& path, const std::string& page, DWORD& error) {
  corva::win::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = ::GetLastError();
    return false;
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), page.data(), static_cast<DWORD>(page.size()), &written, nullptr) ||
      written != page.size()) {
    error = ::GetLastError();
    return false;
  }
  return true;
}

void Box(const std::string& text) {
  ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(corva::text::kMessageTitle).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

bool IsReportCommandLine(const wchar_t* arguments) {
  return arguments != nullptr && IsReportCommand(Narrow(arguments));
}

int RunReportCommand() noexcept {
  std::wstring path;
  try {
    const std::wstring folder = corva::win::ProgramDirectory();
    PowerReport report(Now());
    for (const std::string& name : ReportFileOrder(HistoryFileNames(folder))) {
      ReadHistoryFile(folder + L"\\" + Widen(name), report);
    }
    const std::string page = report.Html(VoltageLimits{}, UserDecimalSign());

    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
      Box(ReportNotWrittenText(kReportFileName, corva::win::SystemMessage(::GetLastError())));
      return 1;
    }
    path = std::wstring(temp) + Widen(kReportFileName);
    DWORD error = 0;
    if (!WriteWhole(path, page, error)) {
      Box(ReportNotWrittenText(Narrow(path), corva::win::SystemMessage(error)));
      return 1;
    }
    const auto opened = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (opened <= 32) Box(ReportNotOpenedText(Narrow(path)));
    return 0;
  } catch (...) {
    // Out of memory on a huge, foreign file: say so rather than end without a word.
    ::MessageBoxW(nullptr, L"No se pudo hacer el informe de energía.", L"Corvamon",
                  MB_OK | MB_ICONEXCLAMATION);
    return 1;
  }
}

}  // namespace corva::history::win
