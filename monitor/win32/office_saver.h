#pragma once
// WinOfficeSaver: saving the Office documents before the computer goes down, within its time
// budget.
//
// The Office calls are made from a thread of their own (a single-threaded apartment) while the
// monitor's window thread waits for it with its messages running. When the budget is spent
// before the saving thread is done (an application showing a modal box never answers its
// call), the window thread stops waiting and the shutdown goes on; the saving thread is left
// behind and ends with the process.

#include <windows.h>

#include <functional>
#include <memory>

#include "guarda_aplics.h"
#include "ports.h"

namespace corva::win {

class WinOfficeSaver final : public OfficeSaver {
 public:
  // Makes the automation port, on the saving thread; tests put their own behind it.
  using AutomationFactory = std::function<std::unique_ptr<OfficeAutomation>()>;

  explicit WinOfficeSaver(std::string program = "Corvamon",
                          std::uint64_t budget_ms = kSavingBudgetMs,
                          AutomationFactory automation = nullptr);
  ~WinOfficeSaver() override;

  // The monitor's main window, which the window scans leave alone.
  void SetMainWindow(HWND window) { main_window_ = window; }

  void SaveAllOffice(const std::string& folder) override;

  // How the last saving ended: done by the saving thread, or abandoned at the budget.
  bool LastSavingAbandoned() const { return abandoned_; }
  std::uint64_t LastSavingMs() const { return last_ms_; }

 private:
  struct Run;
  static DWORD WINAPI SavingThread(void* run);

  std::string program_;
  std::uint64_t budget_ms_;
  AutomationFactory automation_;
  HWND main_window_ = nullptr;
  bool abandoned_ = false;
  std::uint64_t last_ms_ = 0;
};

}  // namespace corva::win
