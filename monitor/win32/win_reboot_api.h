#pragma once
// The Windows calls behind the shutdown module: version, shutdown privilege, ExitWindowsEx and
// the system's message texts.

#include <windows.h>

#include "ports.h"
#include "reboot.h"
#include "unique_resource.h"

namespace corva::win {

class WinRebootApi final : public RebootApi {
 public:
  bool PlatformId(std::uint32_t& platform_id) override;
  bool LookupShutdownPrivilege() override;
  bool CurrentProcessValid() override;
  bool OpenToken() override;
  bool EnablePrivilege() override;
  void CloseToken() override { token_.reset(); }
  bool RequestExit(int flags, std::uint32_t reason) override;
  std::uint32_t LastError() override { return last_error_; }
  std::string MessageText(std::uint32_t code) override;

 private:
  bool Failed() {
    last_error_ = ::GetLastError();
    return false;
  }

  LUID privilege_{};
  unique_handle token_;
  std::uint32_t last_error_ = 0;
};

}  // namespace corva::win
