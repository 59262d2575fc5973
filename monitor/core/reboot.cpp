#include "reboot.h"

namespace corva {
namespace {

constexpr std::uint32_t kPlatformNt = 2;
constexpr std::uint32_t kAnyReason = 0xFFFFFFFFu;

}  // namespace

std::string Reboot::SystemErrorText(std::uint32_t code) { return api_.MessageText(code); }

void Reboot::Raise(std::uint32_t number, const std::string& prefix, std::uint32_t code) {
  throw CorvaError(number, source_, prefix + SystemErrorText(code) + "]");
}

bool Reboot::IsWindowsNT() {
  if (tested_) return nt_family_;
  std::uint32_t platform = 0;
  if (!api_.PlatformId(platform)) return nt_family_;
  nt_family_ = platform == kPlatformNt;
  tested_ = true;
  return nt_family_;
}

bool Reboot::EnableShutdownPrivilege() {
  if (!api_.LookupShutdownPrivilege()) {
    Raise(reboot_error::kPrivilegeNotFound,
          "Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value. [",
          api_.LastError());
  }
  if (!api_.CurrentProcessValid()) {
    Raise(reboot_error::kNoCurrentProcess,
          "Can't enable shutdown: Can't determine the current process. [", api_.LastError());
  }
  constexpr char kNoPrivilege[] = "No puedo apagar la PC: No tienes suficientes privilegios [";
  if (!api_.OpenToken()) {
    Raise(reboot_error::kPrivilegeNotEnabled, kNoPrivilege, api_.LastError());
  }
  const bool enabled = api_.EnablePrivilege();
  const std::uint32_t code = enabled ? 0 : api_.LastError();
  api_.CloseToken();
  if (!enabled) Raise(reboot_error::kPrivilegeNotEnabled, kNoPrivilege, code);
  return true;
}

bool Reboot::ShutdownSystem(int flags) {
  if (flags < 0 || flags > 31) {
    throw CorvaError(reboot_error::kInvalidFlags, source_,
                     "Invalid parameter to ShutdownSystem: " + std::to_string(flags));
  }
  if (IsWindowsNT() && !EnableShutdownPrivilege()) return false;
  if (api_.RequestExit(flags, kAnyReason)) return true;
  const std::uint32_t code = api_.LastError();
  throw CorvaError(reboot_error::kExitWindowsFailed, source_,
                   "ShutdownSystem failed: " + SystemErrorText(code));
}

bool Reboot::Hibernate() {
  // The same privilege as the shutdown, enabled the same way, with the same errors.
  if (IsWindowsNT() && !EnableShutdownPrivilege()) return false;
  if (api_.RequestHibernate()) return true;
  const std::uint32_t code = api_.LastError();
  throw CorvaError(reboot_error::kHibernateFailed, source_,
                   "No puedo hibernar la PC: " + SystemErrorText(code));
}

}  // namespace corva
