#include "win_platform.h"

#include <windows.h>

#include "text.h"
#include "unique_resource.h"

namespace corva::win {
namespace {

std::string LocaleText(LCTYPE type, const char* fallback) {
  wchar_t buffer[16] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16) <= 1) return fallback;
  return Narrow(buffer);
}

}  // namespace

LocalTime WinPlatform::Now() const {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

Separators WinPlatform::UserSeparators() const {
  return Separators{LocaleText(LOCALE_SDECIMAL, "."), LocaleText(LOCALE_SDATE, "/"),
                    LocaleText(LOCALE_STIME, ":")};
}

std::size_t WinLogFile::Append(std::string_view text) {
  unique_file file(::CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    last_failure_ = LogFailureFromError(::GetLastError());
    return 0;
  }
  const std::string bytes = Utf8ToAnsi(text);
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == 0) {
    last_failure_ = LogFailureFromError(::GetLastError());
    return 0;
  }
  last_failure_ = LogFailure::None;
  if (written >= bytes.size()) return text.size();
  // Part of it went in (the disk filled up): say how much of the caller's text that was.
  return Utf8LengthOfAnsiPrefix(text, written);
}

}  // namespace corva::win
