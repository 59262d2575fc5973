#include "ini_io.h"

#include <windows.h>

#include "settings_rules.h"
#include "text.h"

namespace corva::win {

std::string ReadSetting(std::string_view path, std::string_view section, std::string_view key) {
  char buffer[kSettingBufferSize] = {};
  ::GetPrivateProfileStringA(Utf8ToAnsi(section).c_str(), Utf8ToAnsi(key).c_str(),
                             ini::kMissingValue, buffer, kSettingBufferSize,
                             Utf8ToAnsi(path).c_str());
  buffer[kSettingBufferSize - 1] = '\0';
  return AnsiToUtf8(buffer);
}

bool WriteSetting(std::string_view path, std::string_view section, std::string_view key,
                  std::string_view value) {
  const std::string stored = Utf8ToAnsi(StoredSettingValue(value));
  return ::WritePrivateProfileStringA(Utf8ToAnsi(section).c_str(), Utf8ToAnsi(key).c_str(),
                                      stored.c_str(), Utf8ToAnsi(path).c_str()) != FALSE;
}

void LoadSettings(MonitorSettings& settings) {
  const std::string path = settings.SettingsPath;
  corva::LoadSettings(settings, [&](std::string_view section, std::string_view key) {
    return ReadSetting(path, section, key);
  });
}

}  // namespace corva::win
