#pragma once
// Shutting Windows down: the shutdown privilege where the system needs one, then the request
// itself, with every failure raised as an error in the user's words.

#include <cstdint>
#include <string>

#include "corva_error.h"

namespace corva {

// Error numbers of the shutdown module.
namespace reboot_error {
inline constexpr std::uint32_t kExitWindowsFailed = kObjectErrorBase + 1579;      // 0x8004062B
inline constexpr std::uint32_t kPrivilegeNotFound = kObjectErrorBase + 1580;      // 0x8004062C
inline constexpr std::uint32_t kNoCurrentProcess = kObjectErrorBase + 1581;       // 0x8004062D
inline constexpr std::uint32_t kPrivilegeNotEnabled = kObjectErrorBase + 1582;    // 0x8004062E
inline constexpr std::uint32_t kInvalidFlags = kObjectErrorBase + 1583;           // 0x8004062F
}  // namespace reboot_error

// ExitWindowsEx flags: shut down, forced (applications are not asked).
inline constexpr int kShutdownForced = 5;

// The system calls the module makes. Each failing call leaves its error code for LastError.
class RebootApi {
 public:
  virtual ~RebootApi() = default;
  // The platform identifier of GetVersionEx (2 for the NT family), or nothing when it fails.
  virtual bool PlatformId(std::uint32_t& platform_id) = 0;
  virtual bool LookupShutdownPrivilege() = 0;
  virtual bool CurrentProcessValid() = 0;
  virtual bool OpenToken() = 0;
  // Enables the privilege looked up before; answers false when the token refused it.
  virtual bool EnablePrivilege() = 0;
  virtual void CloseToken() = 0;
  virtual bool RequestExit(int flags, std::uint32_t reason) = 0;
  virtual std::uint32_t LastError() = 0;
  // The system's message for an error code (as FormatMessage gives it), empty when none.
  virtual std::string MessageText(std::uint32_t code) = 0;
};

// The shutdown as the monitor's logic sees it.
class SystemShutdown {
 public:
  virtual ~SystemShutdown() = default;
  // True when the system took the request; failures raise CorvaError.
  virtual bool ShutdownSystem(int flags) = 0;
};

class Reboot final : public SystemShutdown {
 public:
  // `program_name` is the executable's name without extension; errors come from
  // program_name + ".mShutDown".
  Reboot(RebootApi& api, std::string program_name)
      : api_(api), source_(std::move(program_name) + ".mShutDown") {}

  bool ShutdownSystem(int flags) override;
  bool IsWindowsNT();
  bool EnableShutdownPrivilege();
  std::string SystemErrorText(std::uint32_t code);

 private:
  [[noreturn]] void Raise(std::uint32_t number, const std::string& prefix, std::uint32_t code);

  RebootApi& api_;
  std::string source_;
  bool tested_ = false;
  bool nt_family_ = false;
};

}  // namespace corva
