#include "network_settings_file.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "text.h"

namespace corva::net::win {

NetworkSettings ReadNetworkSettings(std::string_view path) {
  // Wide, as the rest of the file is read: the program folder's name may lie outside the ANSI
  // code page.
  const std::wstring file = corva::win::Widen(path);
  return LoadNetworkSettings([&](std::string_view section, std::string_view key) {
    wchar_t buffer[2048] = {};
    ::GetPrivateProfileStringW(corva::win::Widen(section).c_str(), corva::win::Widen(key).c_str(),
                               L"", buffer, static_cast<DWORD>(std::size(buffer)), file.c_str());
    buffer[std::size(buffer) - 1] = L'\0';
    return corva::win::Narrow(buffer);
  });
}

}  // namespace corva::net::win
