#include "win_reboot_api.h"

#include <algorithm>
#include <iterator>

#include "text.h"

namespace corva::win {

bool WinRebootApi::PlatformId(std::uint32_t& platform_id) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExA(&info)) return Failed();
  platform_id = info.dwPlatformId;
  return true;
}

bool WinRebootApi::LookupShutdownPrivilege() {
  return ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privilege_) ? true : Failed();
}

bool WinRebootApi::CurrentProcessValid() {
  return ::GetCurrentProcess() != nullptr ? true : Failed();
}

bool WinRebootApi::OpenToken() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return Failed();
  }
  token_.reset(token);
  return true;
}

bool WinRebootApi::EnablePrivilege() {
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Luid = privilege_;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  TOKEN_PRIVILEGES previous{};
  DWORD previous_size = 0;
  if (!::AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous), &previous,
                               &previous_size)) {
    return Failed();
  }
  // The call also succeeds when the token does not hold the privilege at all; that is a
  // failure to enable it, not a success.
  if (::GetLastError() == ERROR_NOT_ALL_ASSIGNED) return Failed();
  return true;
}

bool WinRebootApi::RequestExit(int flags, std::uint32_t reason) {
  return ::ExitWindowsEx(static_cast<UINT>(flags), reason) ? true : Failed();
}

bool WinRebootApi::HibernationAvailable() {
  SYSTEM_POWER_CAPABILITIES capabilities{};
  if (!power_.GetPwrCapabilities(&capabilities)) return Failed();
  return capabilities.SystemS4 && capabilities.HiberFilePresent;
}

bool WinRebootApi::RequestHibernate() {
  return power_.SetSuspendState(TRUE, FALSE, FALSE) ? true : Failed();
}

std::string WinRebootApi::MessageText(std::uint32_t code) {
  char buffer[255];
  std::fill(std::begin(buffer), std::end(buffer), ' ');
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, sizeof(buffer), nullptr);
  return n > 0 ? AnsiToUtf8(std::string_view(buffer, n)) : std::string();
}

}  // namespace corva::win
