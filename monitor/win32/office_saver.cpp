#include "office_saver.h"

#include <objbase.h>

#include "office_automation.h"
#include "unique_resource.h"
#include "win_key_sender.h"

namespace corva::win {

// What one saving shares between the window thread and the saving thread. The saving thread
// holds its own reference, so an abandoned run stays valid until that thread ends.
struct WinOfficeSaver::Run {
  std::string program;
  std::string folder;
  HWND main_window = nullptr;
  std::uint64_t started_ms = 0;
  std::uint64_t budget_ms = 0;
  AutomationFactory automation;
  unique_handle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

namespace {

// COM for the saving thread, as a single-threaded apartment.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (ok_) ::CoUninitialize();
  }

 private:
  bool ok_;
};

}  // namespace

WinOfficeSaver::WinOfficeSaver(std::string program, std::uint64_t budget_ms,
                               AutomationFactory automation)
    : program_(std::move(program)), budget_ms_(budget_ms), automation_(std::move(automation)) {}

WinOfficeSaver::~WinOfficeSaver() = default;

DWORD WINAPI WinOfficeSaver::SavingThread(void* param) {
  std::unique_ptr<std::shared_ptr<Run>> holder(static_cast<std::shared_ptr<Run>*>(param));
  const std::shared_ptr<Run> run = *holder;
  try {
    ComApartment apartment;
    // A busy application's calls are made again within the budget, not failed at once.
    BusyCallRetry retry(run->started_ms + run->budget_ms);
    {
      std::unique_ptr<OfficeAutomation> automation =
          run->automation ? run->automation() : std::make_unique<WinOfficeAutomation>();
      WinDesktopWindows windows(run->main_window);
      WinSavingHost host;
      WinKeyboard keyboard;
      cSendKeys keys(keyboard, run->program);
      GuardaAplics saver({*automation, windows, host, keys}, run->folder);
      saver.SaveAllOffice(run->started_ms, run->budget_ms);
    }  // every automation object is released here, inside the apartment
  } catch (...) {
    // Nothing leaves this thread; what was not saved stays open.
  }
  ::SetEvent(run->done.get());
  return 0;
}

void WinOfficeSaver::SaveAllOffice(const std::string& folder) {
  auto run = std::make_shared<Run>();
  run->program = program_;
  run->folder = folder;
  run->main_window = main_window_;
  run->started_ms = ::GetTickCount64();
  run->budget_ms = budget_ms_;
  run->automation = automation_;
  abandoned_ = false;
  if (!run->done) return;

  // The thread takes over its own reference to the run.
  auto param = std::make_unique<std::shared_ptr<Run>>(run);
  unique_handle thread(::CreateThread(nullptr, 0, SavingThread, param.get(), 0, nullptr));
  if (!thread) return;
  param.release();

  // Wait for the saving thread, with this thread's messages running, up to the budget.
  const ULONGLONG deadline = run->started_ms + budget_ms_;
  bool quit = false;
  int quit_code = 0;
  HANDLE done = run->done.get();
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      abandoned_ = true;
      break;
    }
    const DWORD woke = ::MsgWaitForMultipleObjectsEx(1, &done, static_cast<DWORD>(deadline - now),
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      abandoned_ = true;
      break;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;  // kept for the main loop, once the saving is over
        quit_code = static_cast<int>(msg.wParam);
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (quit) ::PostQuitMessage(quit_code);
  last_ms_ = ::GetTickCount64() - run->started_ms;
}

}  // namespace corva::win
