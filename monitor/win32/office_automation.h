#pragma once
// The Windows side of document saving: running automation instances reached through the
// running-object table and called by member name through IDispatch, the desktop's top-level
// windows, and time and files as the saving thread sees them.
//
// Every object made here belongs to the thread that made it (a single-threaded apartment) and
// is released on it.

#include <windows.h>

#include "guarda_aplics.h"

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
  void SendClose(WindowHandle window) override;
  void BringWindowToFront(WindowHandle window) override;

 private:
  HWND main_window_;
};

class WinSavingHost final : public SavingHost {
 public:
  std::uint64_t NowMs() override { return ::GetTickCount64(); }
  void Pause(int ms) override;
  void DoEvents() override;
  bool NameTaken(const std::string& path) override;
};

}  // namespace corva::win
