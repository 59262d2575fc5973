#include "single_instance.h"

#include "control_ids.h"

namespace corva::win {
namespace {

// Local\: one copy per session; another user's session runs its own.
constexpr wchar_t kMarkName[] = L"Local\\KRD.Corvamon.EnEjecucion";

}  // namespace

SingleInstance::SingleInstance() : mark_(::CreateMutexW(nullptr, FALSE, kMarkName)) {
  // Without a mark (no rights to make one) the copy runs: a monitor that does not start is worse
  // than two.
  first_ = !mark_ || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

bool SingleInstance::ShowRunningCopy() {
  HWND hwnd = ::FindWindowW(CORVA_MAIN_CLASS, nullptr);
  if (hwnd == nullptr) return false;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  // The copy the user just started may take the foreground; it hands that right on.
  if (pid != 0) ::AllowSetForegroundWindow(pid);
  // Async: a running copy busy with the shutdown sequence never holds this one up.
  ::ShowWindowAsync(hwnd, ::IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd);
  return true;
}

}  // namespace corva::win
