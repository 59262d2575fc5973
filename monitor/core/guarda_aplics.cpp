#include "guarda_aplics.h"

#include <algorithm>
#include <array>

namespace corva {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ForbiddenInFileName(unsigned char c) {
  switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return c < 0x20;
  }
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Names Windows keeps for devices, whatever extension follows them.
bool IsDeviceName(std::string_view name) {
  const std::string stem = UpperAscii(name.substr(0, name.find('.')));
  static constexpr std::array<const char*, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool Contains(const std::string& text, std::string_view keyword) {
  return text.find(keyword) != std::string::npos;
}

}  // namespace

std::string LeadingNonDigits(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && !IsDigit(text[i])) ++i;
  return std::string(text.substr(0, i));
}

std::string SafeFileName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (ForbiddenInFileName(static_cast<unsigned char>(c))) c = '_';
  }
  if (IsDeviceName(out)) {
    const std::size_t dot = std::min(out.find('.'), out.size());
    out = out.substr(0, dot) + "_" + out.substr(dot);
  }
  return out;
}

GuardaAplics::GuardaAplics(GuardaAplicsPorts ports, std::string save_directory,
                           std::int32_t max_save_counter)
    : ports_(ports),
      save_directory_(std::move(save_directory)),
      max_save_counter_(max_save_counter) {}

std::int64_t BusyRetryDelayMs(std::uint64_t now_ms, std::uint64_t deadline_ms) {
  if (now_ms >= deadline_ms) return -1;
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(kBusyRetryPauseMs, deadline_ms - now_ms));
}

void GuardaAplics::CheckBudget() {
  if (ports_.host.NowMs() >= deadline_ms_) throw OutOfTime{};
}

AutomationValue GuardaAplics::Call(AutomationObject& object, std::string_view member,
                                   const std::vector<AutomationArg>& args) {
  for (;;) {
    CheckBudget();
    try {
      return object.Call(member, args);
    } catch (const AutomationError& error) {
      if (!error.Busy()) throw;
    }
    // Busy: the call did nothing; it is made again, as long as the budget allows.
    const std::int64_t delay = BusyRetryDelayMs(ports_.host.NowMs(), deadline_ms_);
    if (delay < 0) throw OutOfTime{};
    ++busy_retries_;
    ports_.host.Pause(static_cast<int>(delay));
  }
}

std::shared_ptr<AutomationObject> GuardaAplics::CallForObject(
    AutomationObject& object, std::string_view member, const std::vector<AutomationArg>& args) {
  auto value = Call(object, member, args);
  auto* found = std::get_if<std::shared_ptr<AutomationObject>>(&value);
  if (!found || !*found) throw AutomationError(std::string(member) + " gave no object");
  return *found;
}

std::string GuardaAplics::CallForText(AutomationObject& object, std::string_view member) {
  auto value = Call(object, member);
  if (auto* text = std::get_if<std::string>(&value)) return *text;
  throw AutomationError(std::string(member) + " gave no text");
}

void GuardaAplics::SaveAllOffice(std::uint64_t started_ms, std::uint64_t budget_ms) {
  deadline_ms_ = started_ms + budget_ms;
  excel_passes_ = 0;
  budget_spent_ = false;
  busy_retries_ = 0;
  try {
    CloseOfficeDialogs();
    DocumentPass(kWord);
    DocumentPass(kPublisher);
    DocumentPass(kPowerPoint);
    LeaveExcelEditMode();
    // One pass per instance, and one more that finds none; bounded for an instance that stays.
    const std::uint64_t loop_start = ports_.host.NowMs();
    for (;;) {
      ++excel_passes_;
      if (!DocumentPass(kExcel)) break;
      if (excel_passes_ >= kMaxExcelPasses) break;
      if (ports_.host.NowMs() - loop_start >= kExcelLoopLimitMs) break;
      ports_.host.Pause(kExcelPassPauseMs);
    }
  } catch (const OutOfTime&) {
    budget_spent_ = true;
  }
  deadline_ms_ = UINT64_MAX;
}

bool GuardaAplics::DocumentPass(const OfficeApplication& app) {
  const bool excel = std::string_view(app.prog_id) == kExcel.prog_id;
  if (excel) ports_.host.DoEvents();
  CheckBudget();
  // Released when the pass ends, whichever way it ends.
  const std::shared_ptr<AutomationObject> application =
      ports_.automation.GetRunningObject(app.prog_id);
  if (!application) return false;
  try {
    const auto collection = CallForObject(*application, app.collection);
    const AutomationValue count = Call(*collection, "Count");
    const auto* n = std::get_if<std::int32_t>(&count);
    if (!n) throw AutomationError("Count gave no number");
    int errors = 0;
    // Backwards: each document leaves the collection when it is closed.
    for (std::int32_t i = *n; i >= 1; --i) {
      try {
        SaveAndClose(app, *collection, i);
      } catch (const AutomationError&) {
        if (!app.skips_one_error || ++errors >= 2) throw;
      }
    }
    Call(*application, "Quit");
  } catch (const AutomationError&) {
    return false;  // what was not handled stays open, unsaved; the other passes still run
  }
  return true;
}

void GuardaAplics::SaveAndClose(const OfficeApplication& app, AutomationObject& collection,
                                std::int32_t i) {
  const auto document = CallForObject(collection, "Item", {i});
  const std::string name = CallForText(*document, "Name");
  const std::string full_name = CallForText(*document, "FullName");
  const bool in_place =
      full_name != name && (!app.needs_backslash || Contains(full_name, "\\"));
  if (in_place) {
    Call(*document, "Save");
  } else {
    Call(*document, "SaveAs", {MakeSaveName(name, app.extension)});
  }
  Call(*document, "Close");
}

std::string GuardaAplics::MakeSaveName(std::string_view name, std::string_view extension) {
  const std::string safe = SafeFileName(name);
  std::string candidate = save_directory_ + safe + std::string(extension);
  if (!ports_.host.NameTaken(candidate)) return candidate;
  const std::string base = save_directory_ + LeadingNonDigits(safe);
  for (std::int32_t k = 1; k <= max_save_counter_; ++k) {
    if ((k & 0xFFF) == 0) CheckBudget();
    candidate = base + std::to_string(k) + std::string(extension);
    if (!ports_.host.NameTaken(candidate)) return candidate;
  }
  return {};
}

std::vector<TopWindowEntry> GuardaAplics::ScanTopWindows() {
  std::vector<TopWindowEntry> list;
  const WindowHandle main = ports_.windows.MainWindow();
  for (const WindowHandle window : ports_.windows.EnumTopWindows()) {
    if (window == main || !ports_.windows.IsVisible(window)) continue;
    const WindowHandle owner = ports_.windows.Owner(window);
    std::string title = ports_.windows.Title(window);
    if (!title.empty()) list.push_back({std::move(title), window, owner});
  }
  return list;
}

void GuardaAplics::CloseOfficeDialogs() {
  const auto list = ScanTopWindows();
  for (const auto& entry : list) {
    for (const char* keyword : kDialogKeywords) {
      if (Contains(entry.title, keyword) && entry.owner == 0) {
        CheckBudget();
        CloseOwnedWindows(entry.handle);
      }
    }
  }
}

void GuardaAplics::CloseOwnedWindows(WindowHandle owner) {
  const auto list = ScanTopWindows();  // a list of its own
  for (const auto& entry : list) {
    if (entry.owner == owner) CloseWindowNow(entry.handle);
  }
}

void GuardaAplics::CloseWindowNow(WindowHandle window) {
  // A window that does not answer is left open: its wait is bounded, and by the budget too.
  const std::uint64_t now = ports_.host.NowMs();
  if (now >= deadline_ms_) throw OutOfTime{};
  ports_.windows.SendClose(window, std::min(kCloseWindowTimeoutMs, deadline_ms_ - now));
}

void GuardaAplics::LeaveExcelEditMode() {
  const auto list = ScanTopWindows();
  for (const auto& entry : list) {
    if (!Contains(entry.title, kExcelEditKeyword)) continue;
    CheckBudget();
    ports_.windows.BringWindowToFront(entry.handle);
    ports_.host.Pause(kEditModePauseMs);
    CheckBudget();  // no key goes out once the budget is spent
    ports_.keys.KeyDown(kVkEscape);
    ports_.keys.KeyUp(kVkEscape);
    ports_.host.Pause(kEditModePauseMs);
  }
}

}  // namespace corva
