// The shutdown module's Windows calls under Wine, everything short of the shutdown itself
// (under Wine ExitWindowsEx ends the whole session; the e2e tests watch that).

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "../fakes/fakes.h"
#include "reboot.h"
#include "shutdown_rules.h"
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

// The power calls as a test plays them: what SetSuspendState was asked, and the capabilities
// GetPwrCapabilities answers.
struct PowerSeen {
  std::vector<std::vector<int>> suspends;
  SYSTEM_POWER_CAPABILITIES capabilities{};
} g_power;

BOOLEAN WINAPI RefuseSuspend(BOOLEAN hibernate, BOOLEAN force, BOOLEAN no_wake_events) {
  g_power.suspends.push_back({hibernate, force, no_wake_events});
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

BOOLEAN WINAPI AnswerCapabilities(PSYSTEM_POWER_CAPABILITIES capabilities) {
  *capabilities = g_power.capabilities;
  return TRUE;
}

// The real Windows calls, but for ExitWindowsEx, which is only noted: under Wine it would end
// the session.
class ExitNoted final : public RebootApi {
 public:
  explicit ExitNoted(WinRebootApi& real) : real_(real) {}
  bool PlatformId(std::uint32_t& id) override { return real_.PlatformId(id); }
  bool LookupShutdownPrivilege() override { return real_.LookupShutdownPrivilege(); }
  bool CurrentProcessValid() override { return real_.CurrentProcessValid(); }
  bool OpenToken() override { return real_.OpenToken(); }
  bool EnablePrivilege() override { return real_.EnablePrivilege(); }
  void CloseToken() override { real_.CloseToken(); }
  bool RequestExit(int flags, std::uint32_t) override {
    exits.push_back(flags);
    return true;
  }
  bool HibernationAvailable() override { return real_.HibernationAvailable(); }
  bool RequestHibernate() override { return real_.RequestHibernate(); }
  std::uint32_t LastError() override { return real_.LastError(); }
  std::string MessageText(std::uint32_t code) override { return real_.MessageText(code); }
  std::vector<int> exits;

 private:
  WinRebootApi& real_;
};

TEST(WinRebootApi, HibernationAsksTheSystemRightlyAndARefusalShutsDownAtOnce) {
  WinRebootApi::PowerCalls calls;
  calls.SetSuspendState = RefuseSuspend;
  calls.GetPwrCapabilities = AnswerCapabilities;
  WinRebootApi api(calls);

  // Available only where the system supports it and its file is there (not switched off).
  for (const auto& [s4, file] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
    g_power.capabilities.SystemS4 = static_cast<BOOLEAN>(s4);
    g_power.capabilities.HiberFilePresent = static_cast<BOOLEAN>(file);
    EXPECT_EQ(api.HibernationAvailable(), s4 && file) << s4 << file;
  }

  // A decided shutdown with Hibernar=1: hibernation asked for as hibernation, not forced, with
  // the wake events kept; refused, it is logged with the system's reason and the forced
  // shutdown follows at once.
  ExitNoted exits(api);
  Reboot reboot(exits, "Corvamon");
  MonitorState state;
  state.Settings.Hibernar = true;
  state.ShutdownRequested = true;
  fakes::FakeView view;
  fakes::FakeLogFile log;
  fakes::FakePlatform platform;
  fakes::FakeOffice office;
  Bitacora bitacora(state, log, view, platform);
  ShutdownRules rules(state, bitacora, view, office, reboot, [] { return true; });
  rules.RunShutdownSequence();
  EXPECT_EQ(g_power.suspends, (std::vector<std::vector<int>>{{TRUE, FALSE, FALSE}}));
  EXPECT_EQ(exits.exits, std::vector<int>{kShutdownForced});
  EXPECT_TRUE(rules.ShutdownAccepted());
  std::string reason = api.MessageText(ERROR_ACCESS_DENIED);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  EXPECT_NE(log.contents.find("Hibernacion rechazada "), std::string::npos) << log.contents;
  EXPECT_NE(log.contents.find("\tNo puedo hibernar la PC: " + reason + "\r\n\tApagando la PC"),
            std::string::npos)
      << log.contents;
}

}  // namespace
}  // namespace corva::win
