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
inline constexpr std::uint32_t kHibernateFailed = kObjectErrorBase + 1584;        // 0x80040630
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
  // Whether the system can hibernate: it supports it and hibernation is switched on (its file
  // is there). False when the system cannot say.
  virtual bool HibernationAvailable() { return false; }
  // Asks the system to hibernate (not forced, wake events kept). Answers whether it took the
  // request; on Windows the call returns once the computer has woken again.
  virtual bool RequestHibernate() { return false; }
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
  // Whether hibernation is possible now.
  virtual bool HibernationAvailable() { return false; }
  // Hibernates the computer; true when the system took the request. Failures raise CorvaError,
  // with the shutdown's privilege texts where the privilege is what failed.
  virtual bool Hibernate() { return false; }
};

class Reboot final : public SystemShutdown {
 public:
  // `program_name` is the executable's name without extension; errors come from
  // program_name + ".mShutDown".
  Reboot(RebootApi& api, std::string program_name)
      : api_(api), source_(std::move(program_name) + ".mShutDown") {}

  bool ShutdownSystem(int flags) override;
  bool HibernationAvailable() override { return api_.HibernationAvailable(); }
  bool Hibernate() override;
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
