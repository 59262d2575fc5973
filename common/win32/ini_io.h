#pragma once
// Reading and writing Corvamon.ini through the Windows profile functions. Texts, the path too,
// cross this boundary as UTF-8; the path reaches Windows whole, and the file's text is kept in
// the ANSI code page.

#include <string>
#include <string_view>

#include "monitor_settings.h"

namespace corva::win {

// Size of the buffer that receives one value; longer values come back cut short.
inline constexpr unsigned kSettingBufferSize = 250;

// One value; "0" when the file, the section or the key is missing.
std::string ReadSetting(std::string_view path, std::string_view section, std::string_view key);

// Writes one value; an empty value is written as a single blank. Answers whether the profile
// function wrote it (a folder that is not there, a file that is read-only: false; GetLastError
// then tells why). Callers that have nothing to do about a failure may go on regardless.
bool WriteSetting(std::string_view path, std::string_view section, std::string_view key,
                  std::string_view value);

// Reads every key of `settings.SettingsPath` into `settings`.
void LoadSettings(MonitorSettings& settings);

}  // namespace corva::win
