#include "network_settings_file.h"

#include <windows.h>

#include <string>

#include "text.h"

namespace corva::net::win {

NetworkSettings ReadNetworkSettings(std::string_view path) {
  const std::string file = corva::win::Utf8ToAnsi(path);
  return LoadNetworkSettings([&](std::string_view section, std::string_view key) {
    char buffer[2048] = {};
    ::GetPrivateProfileStringA(corva::win::Utf8ToAnsi(section).c_str(),
                               corva::win::Utf8ToAnsi(key).c_str(), "", buffer, sizeof buffer,
                               file.c_str());
    buffer[sizeof buffer - 1] = '\0';
    return corva::win::AnsiToUtf8(buffer);
  });
}

}  // namespace corva::net::win
