// The shutdown module's Windows calls under Wine, everything short of the shutdown itself
// (under Wine ExitWindowsEx ends the whole session; the e2e tests watch that).

#include <windows.h>

#include <gtest/gtest.h>

#include "reboot.h"
#include "win_reboot_api.h"

namespace corva::win {
namespace {

TEST(WinRebootApi, FindsTheNtFamilyAndEnablesTheShutdownPrivilege) {
  WinRebootApi api;
  Reboot reboot(api, "Corvamon");
  EXPECT_TRUE(reboot.IsWindowsNT());
  EXPECT_TRUE(reboot.EnableShutdownPrivilege());

  // The privilege really is enabled in the token now.
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  LUID luid{};
  ASSERT_TRUE(::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
  PRIVILEGE_SET set{};
  set.PrivilegeCount = 1;
  set.Privilege[0].Luid = luid;
  BOOL held = FALSE;
  EXPECT_TRUE(::PrivilegeCheck(token, &set, &held));
  EXPECT_TRUE(held);
  ::CloseHandle(token);
}

TEST(WinRebootApi, SystemErrorTextIsTheSystemsMessageOrNothing) {
  WinRebootApi api;
  Reboot reboot(api, "Corvamon");
  const std::string denied = reboot.SystemErrorText(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(denied.empty());
  EXPECT_EQ(denied.substr(denied.size() - 2), "\r\n");  // the system's line break stays
  EXPECT_EQ(reboot.SystemErrorText(0x2FFFFFFF), "");
}

}  // namespace
}  // namespace corva::win
