#pragma once
// GuardaAplics: before the computer goes down, the dialogs of Word, Excel, PowerPoint and
// Publisher are closed, Excel leaves edit mode, and every open document of the running
// instances is saved, closed, and its application quit. Documents never saved get a free name
// in the save folder.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "send_keys.h"

namespace corva {

// ---- Automation: objects of a running application, members called by name.

class AutomationObject;
using AutomationArg = std::variant<std::int32_t, std::string>;
// What a member answers: nothing, a number, a text or another object.
using AutomationValue =
    std::variant<std::monostate, std::int32_t, std::string, std::shared_ptr<AutomationObject>>;

// A failed automation call: the member that failed and what the application said. `Busy` when
// the application turned the call away only because it was busy (it did nothing, and answers
// the same call later).
class AutomationError : public std::runtime_error {
 public:
  explicit AutomationError(const std::string& what, bool busy = false)
      : std::runtime_error(what), busy_(busy) {}
  bool Busy() const { return busy_; }

 private:
  bool busy_;
};

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  // Calls the member (a method or a property read) with the arguments; throws AutomationError.
  virtual AutomationValue Call(std::string_view member, const std::vector<AutomationArg>& args) = 0;
};

class OfficeAutomation {
 public:
  virtual ~OfficeAutomation() = default;
  // The running instance of the automation class, never a new one; null when none runs.
  virtual std::shared_ptr<AutomationObject> GetRunningObject(std::string_view prog_id) = 0;
};

// ---- The desktop: top-level windows, and time as the saving thread lives it.

using WindowHandle = std::uintptr_t;

class DesktopWindows {
 public:
  virtual ~DesktopWindows() = default;
  // Every top-level window, in the system's order.
  virtual std::vector<WindowHandle> EnumTopWindows() = 0;
  virtual WindowHandle MainWindow() = 0;  // the monitor's own
  virtual bool IsVisible(WindowHandle window) = 0;
  virtual WindowHandle Owner(WindowHandle window) = 0;
  // The title, at most 255 characters; empty when it cannot be read.
  virtual std::string Title(WindowHandle window) = 0;
  // Sends WM_CLOSE and waits at most `timeout_ms` for the window to handle it, less when its
  // thread is known to be hung. Answers whether it was handled.
  virtual bool SendClose(WindowHandle window, std::uint64_t timeout_ms) = 0;
  virtual void BringWindowToFront(WindowHandle window) = 0;
};

class SavingHost {
 public:
  virtual ~SavingHost() = default;
  // Milliseconds on a monotonic clock.
  virtual std::uint64_t NowMs() = 0;
  // Waits while the thread's messages keep being processed.
  virtual void Pause(int ms) = 0;
  // Lets pending messages be processed once.
  virtual void DoEvents() = 0;
  // Whether anything exists at the path: a file of any attributes, or a folder.
  virtual bool NameTaken(const std::string& path) = 0;
};

// ---- The rules.

struct OfficeApplication {
  const char* name;
  const char* prog_id;
  const char* collection;
  const char* extension;
  // PowerPoint: a full name without "\" (a web address) is not a place to save in.
  bool needs_backslash;
  // Publisher: a document's first error skips that document; the second ends the pass.
  bool skips_one_error;
};

inline constexpr OfficeApplication kWord{"Word", "Word.Application", "Documents", ".doc", false,
                                         false};
inline constexpr OfficeApplication kPublisher{"Publisher", "Publisher.Application", "Documents",
                                              ".pub", false, true};
inline constexpr OfficeApplication kPowerPoint{"PowerPoint", "PowerPoint.Application",
                                               "Presentations", ".ppt", true, false};
inline constexpr OfficeApplication kExcel{"Excel", "Excel.Application", "WorkBooks", ".xls",
                                          false, false};

// Window-title keywords: a main window so named has its dialogs closed; Escape goes to Excel's.
inline constexpr const char* kDialogKeywords[] = {"Excel", "Microsoft Word", "Publisher",
                                                  "PowerPoint"};
inline constexpr char kExcelEditKeyword[] = "Microsoft Excel";

// The whole saving may take this long; what is left when it is spent stays unsaved, and the
// shutdown goes on.
inline constexpr std::uint64_t kSavingBudgetMs = 120'000;
// The Excel pass repeats while it quits an instance, 500 ms apart, but not for ever: an
// instance that never goes away stops it after this many passes or this long.
inline constexpr int kExcelPassPauseMs = 500;
inline constexpr int kMaxExcelPasses = 20;
inline constexpr std::uint64_t kExcelLoopLimitMs = 30'000;
// A window whose thread does not handle WM_CLOSE within this time is left open, so that one
// hung program cannot hold up the saving of the others.
inline constexpr std::uint64_t kCloseWindowTimeoutMs = 3'000;
// A call turned away by a busy application is made again after this pause, while the budget
// lasts.
inline constexpr int kBusyRetryPauseMs = 250;
// Pauses around the Escape key in each Excel window.
inline constexpr int kEditModePauseMs = 200;
// MakeSaveName's highest counter.
inline constexpr std::int32_t kMaxSaveCounter = 10'000'000;

struct TopWindowEntry {
  std::string title;
  WindowHandle handle;
  WindowHandle owner;
};

// The characters from the start up to the first decimal digit; the whole text without one.
std::string LeadingNonDigits(std::string_view text);
// The document name as a file name: "\", "/", ":", "*", "?", '"', "<", ">", "|" and control
// characters become "_", and a device name (CON, NUL, COM1...) gets a "_" after it.
std::string SafeFileName(std::string_view name);

// How long to wait before calling a busy application again, at `now_ms`; -1 when the budget
// ending at `deadline_ms` leaves no time for another call.
std::int64_t BusyRetryDelayMs(std::uint64_t now_ms, std::uint64_t deadline_ms);

struct GuardaAplicsPorts {
  OfficeAutomation& automation;
  DesktopWindows& windows;
  SavingHost& host;
  cSendKeys& keys;
};

class GuardaAplics {
 public:
  // `save_directory` ends with "\". Numbered names count up to `max_save_counter`.
  GuardaAplics(GuardaAplicsPorts ports, std::string save_directory,
               std::int32_t max_save_counter = kMaxSaveCounter);

  // The whole sequence. The budget counts from `started_ms` (the host's clock).
  void SaveAllOffice(std::uint64_t started_ms, std::uint64_t budget_ms = kSavingBudgetMs);
  void SaveAllOffice() { SaveAllOffice(ports_.host.NowMs()); }

  // One application's pass. Answers whether an instance was found and quit.
  bool DocumentPass(const OfficeApplication& app);
  // Full path of a file that does not exist yet, or empty text when every name is taken.
  std::string MakeSaveName(std::string_view name, std::string_view extension);
  std::vector<TopWindowEntry> ScanTopWindows();
  void CloseOfficeDialogs();
  void CloseOwnedWindows(WindowHandle owner);
  void CloseWindowNow(WindowHandle window);
  void LeaveExcelEditMode();

  // How many Excel passes the last SaveAllOffice ran, whether the budget ran out, and how many
  // calls were made again because the application was busy.
  int ExcelPasses() const { return excel_passes_; }
  bool BudgetSpent() const { return budget_spent_; }
  int BusyRetries() const { return busy_retries_; }

 private:
  // Thrown when the budget is spent; ends SaveAllOffice, whatever pass is running.
  struct OutOfTime {};
  void CheckBudget();
  AutomationValue Call(AutomationObject& object, std::string_view member,
                       const std::vector<AutomationArg>& args = {});
  std::shared_ptr<AutomationObject> CallForObject(AutomationObject& object,
                                                  std::string_view member,
                                                  const std::vector<AutomationArg>& args = {});
  std::string CallForText(AutomationObject& object, std::string_view member);
  void SaveAndClose(const OfficeApplication& app, AutomationObject& collection, std::int32_t i);

  GuardaAplicsPorts ports_;
  std::string save_directory_;
  std::int32_t max_save_counter_;
  std::uint64_t deadline_ms_ = UINT64_MAX;
  int excel_passes_ = 0;
  bool budget_spent_ = false;
  int busy_retries_ = 0;
};

}  // namespace corva
