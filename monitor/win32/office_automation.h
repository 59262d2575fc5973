#pragma once
// The Windows side of document saving: running automation instances reached through the
// running-object table and called by member name through IDispatch, the desktop's top-level
// windows, and time and files as the saving thread sees them.
//
// Every object made here belongs to the thread that made it (a single-threaded apartment) and
// is released on it.

#include <windows.h>

#include "guarda_aplics.h"
#include "unique_resource.h"

namespace corva::win {

class WinOfficeAutomation final : public OfficeAutomation {
 public:
  // ProgID -> CLSID -> GetActiveObject: an instance already running, never a new one.
  std::shared_ptr<AutomationObject> GetRunningObject(std::string_view prog_id) override;
};

class WinDesktopWindows final : public DesktopWindows {
 public:
  explicit WinDesktopWindows(HWND main_window) : main_window_(main_window) {}
  std::vector<WindowHandle> EnumTopWindows() override;
  WindowHandle MainWindow() override { return reinterpret_cast<WindowHandle>(main_window_); }
  bool IsVisible(WindowHandle window) override;
  WindowHandle Owner(WindowHandle window) override;
  std::string Title(WindowHandle window) override;
  bool SendClose(WindowHandle window, std::uint64_t timeout_ms) override;
  void BringWindowToFront(WindowHandle window) override;

 private:
  HWND main_window_;
};

// While it lives, the thread's COM calls that a busy application turns away
// (SERVERCALL_RETRYLATER, SERVERCALL_REJECTED) are made again until `deadline_ms` (on
// GetTickCount64's clock), as BusyRetryDelayMs says. For a single-threaded apartment; the
// filter that was registered before is put back at the end.
class BusyCallRetry {
 public:
  explicit BusyCallRetry(std::uint64_t deadline_ms);
  BusyCallRetry(const BusyCallRetry&) = delete;
  BusyCallRetry& operator=(const BusyCallRetry&) = delete;
  ~BusyCallRetry();

  // The filter itself, as COM calls it.
  IMessageFilter* Filter() const { return filter_.get(); }
  bool Registered() const { return registered_; }

 private:
  com_ptr<IMessageFilter> filter_;
  com_ptr<IMessageFilter> previous_;
  bool registered_ = false;
};

class WinSavingHost final : public SavingHost {
 public:
  std::uint64_t NowMs() override { return ::GetTickCount64(); }
  void Pause(int ms) override;
  void DoEvents() override;
  bool NameTaken(const std::string& path) override;
};

}  // namespace corva::win
