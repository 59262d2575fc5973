#pragma once
// The Windows calls behind the shutdown module: version, shutdown privilege, ExitWindowsEx,
// hibernation (powrprof) and the system's message texts.

#include <windows.h>

#include <powrprof.h>

#include "ports.h"
#include "reboot.h"
#include "unique_resource.h"

namespace corva::win {

class WinRebootApi final : public RebootApi {
 public:
  // The power calls, replaceable so that a test can see what they are asked without the
  // computer going down.
  struct PowerCalls {
    BOOLEAN(WINAPI* SetSuspendState)(BOOLEAN hibernate, BOOLEAN force, BOOLEAN no_wake_events) =
        ::SetSuspendState;
    BOOLEAN(WINAPI* GetPwrCapabilities)(PSYSTEM_POWER_CAPABILITIES capabilities) =
        ::GetPwrCapabilities;
  };
  WinRebootApi() = default;
  explicit WinRebootApi(PowerCalls calls) : power_(calls) {}

  bool PlatformId(std::uint32_t& platform_id) override;
  bool LookupShutdownPrivilege() override;
  bool CurrentProcessValid() override;
  bool OpenToken() override;
  bool EnablePrivilege() override;
  void CloseToken() override { token_.reset(); }
  bool RequestExit(int flags, std::uint32_t reason) override;
  // GetPwrCapabilities: hibernation supported (SystemS4) and switched on (HiberFilePresent).
  bool HibernationAvailable() override;
  // SetSuspendState(TRUE, FALSE, FALSE): hibernate, not forced, wake events kept.
  bool RequestHibernate() override;
  std::uint32_t LastError() override { return last_error_; }
  std::string MessageText(std::uint32_t code) override;

 private:
  bool Failed() {
    last_error_ = ::GetLastError();
    return false;
  }

  PowerCalls power_;
  LUID privilege_{};
  unique_handle token_;
  std::uint32_t last_error_ = 0;
};

}  // namespace corva::win
