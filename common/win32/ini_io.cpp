#include "ini_io.h"

#include <windows.h>

#include "settings_rules.h"
#include "text.h"

namespace corva::win {

// The wide profile functions take the path as it is, whatever the ANSI code page can hold (a
// program folder under a user named "Łukasz"); they keep the file's text in the ANSI code page,
// as the narrow ones do, unless the file starts with a UTF-16 byte-order mark.

std::string ReadSetting(std::string_view path, std::string_view section, std::string_view key) {
  wchar_t buffer[kSettingBufferSize] = {};
  ::GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(),
                             Widen(ini::kMissingValue).c_str(), buffer, kSettingBufferSize,
                             Widen(path).c_str());
  buffer[kSettingBufferSize - 1] = L'\0';
  return Narrow(buffer);
}

bool WriteSetting(std::string_view path, std::string_view section, std::string_view key,
                  std::string_view value) {
  return ::WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(),
                                      Widen(StoredSettingValue(value)).c_str(),
                                      Widen(path).c_str()) != FALSE;
}

void LoadSettings(MonitorSettings& settings) {
  const std::string path = settings.SettingsPath;
  corva::LoadSettings(settings, [&](std::string_view section, std::string_view key) {
    return ReadSetting(path, section, key);
  });
}

}  // namespace corva::win
