// probe: looks at another program's windows from the outside, for the end-to-end tests.
//
// Runs under Wine next to the program being tested and speaks only through window messages, so
// the program needs no test hooks. Every subcommand gives up after a bounded time; a target that
// stops answering messages makes the probe fail, never hang.
//
//   probe list                                     every top-level window
//   probe wait-window CAPTION TIMEOUT [--visible]  waits for a top-level window, prints its hwnd
//   probe wait-gone CAPTION TIMEOUT                waits until no such window is left
//   probe texts CAPTION [TIMEOUT]                  every child: id, class, visible, text
//   probe text CAPTION ID [TIMEOUT]                one child's text
//   probe wait-text CAPTION ID TEXT TIMEOUT [--ready]
//                                                  waits until a child's text equals TEXT; with
//                                                  --ready prints READY once it has read the
//                                                  child a first time
//   probe click CAPTION ID [TIMEOUT] [--post] [--force]
//                                                  clicks a child button
//   probe msgbox TITLE TIMEOUT [--press BUTTON]    waits for a message box, prints its text(s),
//                                                  optionally presses one of its buttons
//   probe rect CAPTION                             the window's screen rectangle: x y width height
//   probe layout CAPTION                           client size, then each descendant's id, rect in
//                                                  client coordinates and visibility
//   probe close CAPTION TIMEOUT                    asks the window to close, waits until it is gone
//   probe dpi-changed CAPTION DPI                  sends the window WM_DPICHANGED for DPI
//   probe tray-dblclick CAPTION                    what a double-click on the tray icon sends
//   probe power CAPTION EVENT...                   sends the window WM_POWERBROADCAST with each
//                                                  event number in turn (4 the computer goes to
//                                                  sleep, 18 and 7 the two wake notices)
//   probe version FILE                             the file's version resource: its fixed
//                                                  version, then one NAME=TEXT line for each of
//                                                  ProductName, ProductVersion, FileVersion and
//                                                  FileDescription of its first translation
//   probe launch SHOW EXE [ARGS...]                starts EXE with the show command SHOW (as a
//                                                  shortcut would), prints STARTED, waits for it
//                                                  and exits with its exit code; ending the probe
//                                                  ends the program too
//   probe lock FILE HOLD                           opens FILE (made if missing) with no sharing,
//                                                  prints LOCKED, holds it HOLD ms, closes it and
//                                                  prints RELEASED: a program keeping a file to
//                                                  itself, as an editor or a backup tool might
//
// Times are in milliseconds. Texts are printed in UTF-8 with \r, \n, \t and \\ escaped so that
// every text stays on one line; TEXT arguments take the same escapes.
//
// Exit codes: 0 done; 1 the awaited state did not come in time; 2 bad command line; 3 no such
// window or control, or a file that cannot be opened; 4 the control cannot be clicked (hidden or
// disabled); 5 the target did not answer a message in time.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

enum ExitCode : int {
  kOk = 0,
  kNotYet = 1,
  kUsage = 2,
  kNotFound = 3,
  kNotClickable = 4,
  kNoAnswer = 5,
};

constexpr DWORD kPollMs = 50;
constexpr DWORD kDefaultMessageTimeoutMs = 3000;
constexpr wchar_t kDialogClass[] = L"#32770";

// ---------------------------------------------------------------- output

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// Wine hands a redirected stdout to us as a file or a pipe: bytes go out as they are. A real
// console gets the UTF-16 text instead, so that it shows the accents right.
void WriteTo(DWORD which, const std::wstring& text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode)) {
    DWORD written = 0;
    WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = ToUtf8(text);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
}

void Out(const std::wstring& line) {
  WriteTo(STD_OUTPUT_HANDLE, line + L"\n");
}
void Err(const std::wstring& line) {
  WriteTo(STD_ERROR_HANDLE, L"probe: " + line + L"\n");
}

std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'\\':
        out += L"\\\\";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          wchar_t hex[8];
          swprintf(hex, 8, L"\\x%02x", static_cast<unsigned>(c));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

// The reverse of Escape, for texts given on the command line. Unknown escapes stay as they are.
std::wstring Unescape(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const wchar_t next = text[i + 1];
    if (next == L'\\') {
      out += L'\\';
    } else if (next == L'r') {
      out += L'\r';
    } else if (next == L'n') {
      out += L'\n';
    } else if (next == L't') {
      out += L'\t';
    } else if (next == L'x' && i + 3 < text.size() && iswxdigit(text[i + 2]) &&
               iswxdigit(text[i + 3])) {
      out += static_cast<wchar_t>(std::wcstoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += L'\\';
      out += next;
    }
    ++i;
  }
  return out;
}

std::wstring HandleText(HWND hwnd) {
  wchar_t buf[32];
  swprintf(buf, 32, L"0x%llx",
           static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(hwnd)));
  return buf;
}

// ---------------------------------------------------------------- windows

// Title and class come from the window manager's copy, without a message to the owner, so
// looking at a hung program never blocks.
std::wstring TitleOf(HWND hwnd) {
  wchar_t buf[1024];
  const int n = InternalGetWindowText(hwnd, buf, static_cast<int>(std::size(buf)));
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256];
  const int n = GetClassNameW(hwnd, buf, static_cast<int>(std::size(buf)));
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Enumeration callbacks are stdcall on 32-bit Windows, which a lambda cannot be.
BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Top-level windows with exactly this title, optionally only of one class.
std::vector<HWND> FindTopLevel(const std::wstring& title, const wchar_t* class_name = nullptr) {
  std::vector<HWND> matches;
  for (HWND hwnd : TopLevelWindows()) {
    if (TitleOf(hwnd) != title) continue;
    if (class_name != nullptr && ClassOf(hwnd) != class_name) continue;
    matches.push_back(hwnd);
  }
  return matches;
}

// The descendants of a window in Z order, children before grandchildren of the next child.
std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindChild(HWND parent, int id) {
  for (HWND child : Descendants(parent)) {
    if (GetDlgCtrlID(child) == id) return child;
  }
  return nullptr;
}

// A window's text asked of its owner, who may be stuck: false when it does not answer in time.
bool ReadText(HWND hwnd, DWORD timeout_ms, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeout_ms,
                           &length)) {
    return false;
  }
  std::vector<wchar_t> buf(static_cast<size_t>(length) + 64, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, timeout_ms, &copied)) {
    return false;
  }
  text.assign(buf.data(), std::min<size_t>(copied, buf.size() - 1));
  return true;
}

class Deadline {
 public:
  explicit Deadline(DWORD ms) : start_(GetTickCount64()), ms_(ms) {}
  bool Passed() const { return GetTickCount64() - start_ >= ms_; }
  DWORD Left() const {
    const ULONGLONG used = GetTickCount64() - start_;
    return used >= ms_ ? 0 : static_cast<DWORD>(ms_ - used);
  }
  // Sleeps one polling step; false once the time is up.
  bool Tick() const {
    if (Passed()) return false;
    Sleep(std::min<DWORD>(kPollMs, Left()));
    return true;
  }

 private:
  ULONGLONG start_;
  ULONGLONG ms_;
};

// Waits for the first top-level window with this title; nullptr when none came in time.
HWND WaitTopLevel(const std::wstring& title, DWORD timeout_ms, bool visible_only = false,
                  const wchar_t* class_name = nullptr) {
  const Deadline deadline(timeout_ms);
  do {
    for (HWND hwnd : FindTopLevel(title, class_name)) {
      if (!visible_only || IsWindowVisible(hwnd)) return hwnd;
    }
  } while (deadline.Tick());
  return nullptr;
}

// ---------------------------------------------------------------- command line

struct Args {
  std::vector<std::wstring> positional;
  std::vector<std::wstring> flags;        // --name
  std::vector<std::wstring> flag_values;  // value of the flag at the same index, or empty
  bool Has(const wchar_t* flag) const {
    for (const auto& f : flags) {
      if (f == flag) return true;
    }
    return false;
  }
  std::wstring Value(const wchar_t* flag) const {
    for (size_t i = 0; i < flags.size(); ++i) {
      if (flags[i] == flag) return flag_values[i];
    }
    return {};
  }
};

// Flags that take a value.
bool TakesValue(const std::wstring& flag) {
  return flag == L"--press";
}

Args SplitArgs(int argc, wchar_t** argv, int first) {
  Args args;
  for (int i = first; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, L"--") == 0) {
      args.flags.push_back(a);
      if (TakesValue(a) && i + 1 < argc) {
        args.flag_values.emplace_back(argv[++i]);
      } else {
        args.flag_values.emplace_back();
      }
    } else {
      args.positional.push_back(a);
    }
  }
  return args;
}

bool ParseNumber(const std::wstring& text, long long min, long long max, long long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  const long long v = std::wcstoll(text.c_str(), &end, 0);
  if (end == nullptr || *end != L'\0' || v < min || v > max) return false;
  value = v;
  return true;
}

bool ParseMs(const std::wstring& text, DWORD& ms) {
  long long v = 0;
  if (!ParseNumber(text, 0, 24LL * 3600 * 1000, v)) {
    Err(L"not a time in milliseconds: " + text);
    return false;
  }
  ms = static_cast<DWORD>(v);
  return true;
}

bool ParseId(const std::wstring& text, int& id) {
  long long v = 0;
  if (!ParseNumber(text, -65536, 65535, v)) {
    Err(L"not a control id: " + text);
    return false;
  }
  id = static_cast<int>(v);
  return true;
}

// Finds the one window a command works on, waiting up to timeout_ms for it to appear.
HWND TargetWindow(const std::wstring& caption, DWORD timeout_ms) {
  HWND hwnd = WaitTopLevel(caption, timeout_ms);
  if (hwnd == nullptr) Err(L"no window titled \"" + Escape(caption) + L"\"");
  return hwnd;
}

// ---------------------------------------------------------------- subcommands

int CmdList() {
  for (HWND hwnd : TopLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    Out(HandleText(hwnd) + L"\t" + ClassOf(hwnd) + L"\t" + (IsWindowVisible(hwnd) ? L"1" : L"0") +
        L"\t" + std::to_wstring(pid) + L"\t" + Escape(TitleOf(hwnd)));
  }
  return kOk;
}

int CmdWaitWindow(const Args& a) {
  DWORD timeout = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], timeout)) return kUsage;
  HWND hwnd = WaitTopLevel(a.positional[0], timeout, a.Has(L"--visible"));
  if (hwnd == nullptr) {
    Err(L"no window titled \"" + Escape(a.positional[0]) + L"\" after " + std::to_wstring(timeout) +
        L" ms");
    return kNotYet;
  }
  Out(HandleText(hwnd));
  return kOk;
}

int CmdWaitGone(const Args& a) {
  DWORD timeout = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], timeout)) return kUsage;
  const Deadline deadline(timeout);
  do {
    if (FindTopLevel(a.positional[0]).empty()) return kOk;
  } while (deadline.Tick());
  Err(L"window \"" + Escape(a.positional[0]) + L"\" still there after " + std::to_wstring(timeout) +
      L" ms");
  return kNotYet;
}

int CmdTexts(const Args& a) {
  DWORD timeout = kDefaultMessageTimeoutMs;
  if (a.positional.empty() || a.positional.size() > 2) return kUsage;
  if (a.positional.size() == 2 && !ParseMs(a.positional[1], timeout)) return kUsage;
  HWND hwnd = TargetWindow(a.positional[0], timeout);
  if (hwnd == nullptr) return kNotFound;
  for (HWND child : Descendants(hwnd)) {
    std::wstring text;
    if (!ReadText(child, timeout, text)) {
      Err(L"control " + std::to_wstring(GetDlgCtrlID(child)) + L" did not answer WM_GETTEXT");
      return kNoAnswer;
    }
    Out(std::to_wstring(GetDlgCtrlID(child)) + L"\t" + ClassOf(child) + L"\t" +
        (IsWindowVisible(child) ? L"1" : L"0") + L"\t" + Escape(text));
  }
  return kOk;
}

// CAPTION ID [TIMEOUT]: the control `id` of the window titled CAPTION.
int ControlFromArgs(const Args& a, DWORD& timeout, int& id, HWND& control) {
  if (a.positional.size() < 2 || a.positional.size() > 3 || !ParseId(a.positional[1], id)) {
    return kUsage;
  }
  if (a.positional.size() == 3 && !ParseMs(a.positional[2], timeout)) return kUsage;
  HWND hwnd = TargetWindow(a.positional[0], timeout);
  if (hwnd == nullptr) return kNotFound;
  control = FindChild(hwnd, id);
  if (control == nullptr) {
    Err(L"no control with id " + std::to_wstring(id));
    return kNotFound;
  }
  return kOk;
}

int CmdText(const Args& a) {
  DWORD timeout = kDefaultMessageTimeoutMs;
  int id = 0;
  HWND child = nullptr;
  if (const int rc = ControlFromArgs(a, timeout, id, child); rc != kOk) return rc;
  std::wstring text;
  if (!ReadText(child, timeout, text)) {
    Err(L"control " + std::to_wstring(id) + L" did not answer WM_GETTEXT");
    return kNoAnswer;
  }
  Out(Escape(text));
  return kOk;
}

int CmdWaitText(const Args& a) {
  DWORD timeout = 0;
  int id = 0;
  if (a.positional.size() != 4 || !ParseId(a.positional[1], id) ||
      !ParseMs(a.positional[3], timeout)) {
    return kUsage;
  }
  const std::wstring want = Unescape(a.positional[2]);
  const Deadline deadline(timeout);
  std::wstring last;
  bool seen = false;
  do {
    for (HWND hwnd : FindTopLevel(a.positional[0])) {
      HWND child = FindChild(hwnd, id);
      if (child == nullptr) continue;
      std::wstring text;
      if (!ReadText(child, std::max<DWORD>(deadline.Left(), 100), text)) continue;
      if (!seen && a.Has(L"--ready") && text != want) Out(L"READY");
      seen = true;
      last = text;
      if (text == want) {
        Out(Escape(text));
        return kOk;
      }
    }
  } while (deadline.Tick());
  if (seen) {
    Err(L"control " + std::to_wstring(id) + L" reads \"" + Escape(last) + L"\", not \"" +
        Escape(want) + L"\", after " + std::to_wstring(timeout) + L" ms");
  } else {
    Err(L"no control " + std::to_wstring(id) + L" in a window titled \"" + Escape(a.positional[0]) +
        L"\" after " + std::to_wstring(timeout) + L" ms");
  }
  return kNotYet;
}

int CmdClick(const Args& a) {
  DWORD timeout = kDefaultMessageTimeoutMs;
  int id = 0;
  HWND button = nullptr;
  if (const int rc = ControlFromArgs(a, timeout, id, button); rc != kOk) return rc;
  // A person can only click what they see; --force is for poking at hidden controls on purpose.
  if (!a.Has(L"--force") && (!IsWindowVisible(button) || !IsWindowEnabled(button))) {
    Err(L"control " + std::to_wstring(id) +
        (IsWindowVisible(button) ? L" is disabled" : L" is hidden"));
    return kNotClickable;
  }
  if (a.Has(L"--post")) {
    if (!PostMessageW(button, BM_CLICK, 0, 0)) {
      Err(L"PostMessage failed, error " + std::to_wstring(GetLastError()));
      return kNoAnswer;
    }
    return kOk;
  }
  // Sent, so that whatever the click does in its handler is done when we return. A click that
  // opens a modal box only returns when the box closes: that counts as a click made.
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, timeout, &result)) {
    const DWORD error = GetLastError();
    if (error == ERROR_TIMEOUT || error == 0) {
      Err(L"click sent; still being handled after " + std::to_wstring(timeout) + L" ms");
      return kOk;
    }
    Err(L"BM_CLICK failed, error " + std::to_wstring(error));
    return kNoAnswer;
  }
  return kOk;
}

// Button ids of a message box by the names people know them by.
int ButtonId(const std::wstring& name) {
  std::wstring upper;
  for (wchar_t c : name) upper += static_cast<wchar_t>(towupper(c));
  if (upper == L"OK") return IDOK;
  if (upper == L"CANCEL") return IDCANCEL;
  if (upper == L"YES") return IDYES;
  if (upper == L"NO") return IDNO;
  if (upper == L"RETRY") return IDRETRY;
  if (upper == L"ABORT") return IDABORT;
  if (upper == L"IGNORE") return IDIGNORE;
  long long v = 0;
  if (ParseNumber(name, 1, 65535, v)) return static_cast<int>(v);
  return 0;
}

int CmdMsgbox(const Args& a) {
  DWORD timeout = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], timeout)) return kUsage;
  int press = 0;
  if (a.Has(L"--press")) {
    press = ButtonId(a.Value(L"--press"));
    if (press == 0) {
      Err(L"unknown button: " + a.Value(L"--press"));
      return kUsage;
    }
  }
  const Deadline deadline(timeout);
  HWND box = WaitTopLevel(a.positional[0], timeout, true, kDialogClass);
  if (box == nullptr) {
    Err(L"no message box titled \"" + Escape(a.positional[0]) + L"\" after " +
        std::to_wstring(timeout) + L" ms");
    return kNotYet;
  }
  HWND button = nullptr;
  for (HWND child : Descendants(box)) {
    const std::wstring cls = ClassOf(child);
    if (_wcsicmp(cls.c_str(), L"Button") == 0 && GetDlgCtrlID(child) == press) button = child;
    if (_wcsicmp(cls.c_str(), L"Static") != 0) continue;
    std::wstring text;
    if (!ReadText(child, std::max<DWORD>(deadline.Left(), 500), text)) {
      Err(L"the message box did not answer WM_GETTEXT");
      return kNoAnswer;
    }
    if (!text.empty()) Out(Escape(text));
  }
  if (press == 0) return kOk;
  if (button == nullptr) {
    Err(L"the message box has no button " + std::to_wstring(press));
    return kNotFound;
  }
  // The box's own handler for the button, as a click on it would send it.
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  const Deadline closing(std::max<DWORD>(deadline.Left(), 2000));
  do {
    if (!IsWindow(box)) return kOk;
  } while (closing.Tick());
  Err(L"the message box is still open after pressing button " + std::to_wstring(press));
  return kNotYet;
}

int CmdRect(const Args& a) {
  if (a.positional.size() != 1) return kUsage;
  HWND hwnd = TargetWindow(a.positional[0], 0);
  if (hwnd == nullptr) return kNotFound;
  RECT r{};
  if (!GetWindowRect(hwnd, &r)) return kNotFound;
  Out(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
      std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top));
  return kOk;
}

// CAPTION: the window's client size ("client W H"), then one line per descendant window:
// "ID X Y W H VISIBLE", its rect in the window's client coordinates.
int CmdLayout(const Args& a) {
  if (a.positional.size() != 1) return kUsage;
  HWND hwnd = TargetWindow(a.positional[0], 0);
  if (hwnd == nullptr) return kNotFound;
  RECT client{};
  if (!GetClientRect(hwnd, &client)) return kNotFound;
  Out(L"client " + std::to_wstring(client.right) + L" " + std::to_wstring(client.bottom));
  for (HWND child : Descendants(hwnd)) {
    RECT r{};
    if (!GetWindowRect(child, &r)) continue;
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    Out(std::to_wstring(GetDlgCtrlID(child)) + L" " + std::to_wstring(r.left) + L" " +
        std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) + L" " +
        std::to_wstring(r.bottom - r.top) + L" " + (IsWindowVisible(child) ? L"1" : L"0"));
  }
  return kOk;
}

// dpi-changed CAPTION DPI: tells the window its screen's DPI changed, as moving it to another
// screen does (no suggested rectangle: a pointer cannot cross processes).
int CmdDpiChanged(const Args& a) {
  DWORD dpi = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], dpi) || dpi == 0) return kUsage;
  const std::vector<HWND> windows = FindTopLevel(a.positional[0]);
  if (windows.empty()) {
    Err(L"no window titled \"" + Escape(a.positional[0]) + L"\"");
    return kNotFound;
  }
  constexpr UINT kWmDpiChanged = 0x02E0;
  DWORD_PTR answer = 0;
  for (HWND hwnd : windows) {
    SendMessageTimeoutW(hwnd, kWmDpiChanged, MAKEWPARAM(dpi, dpi), 0, SMTO_NORMAL, 10000, &answer);
  }
  return kOk;
}

// power CAPTION EVENT...: what Windows broadcasts as the computer sleeps and wakes.
int CmdPower(const Args& a) {
  if (a.positional.size() < 2) return kUsage;
  std::vector<DWORD> events;
  for (std::size_t i = 1; i < a.positional.size(); ++i) {
    DWORD event = 0;
    if (!ParseMs(a.positional[i], event)) return kUsage;
    events.push_back(event);
  }
  const std::vector<HWND> windows = FindTopLevel(a.positional[0]);
  if (windows.empty()) {
    Err(L"no window titled \"" + Escape(a.positional[0]) + L"\"");
    return kNotFound;
  }
  for (const DWORD event : events) {
    for (HWND hwnd : windows) {
      DWORD_PTR answer = 0;
      if (!SendMessageTimeoutW(hwnd, WM_POWERBROADCAST, event, 0, SMTO_NORMAL, 10000, &answer)) {
        Err(L"the window did not answer WM_POWERBROADCAST " + std::to_wstring(event));
        return kNoAnswer;
      }
    }
  }
  return kOk;
}

int CmdClose(const Args& a) {
  DWORD timeout = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], timeout)) return kUsage;
  const std::vector<HWND> windows = FindTopLevel(a.positional[0]);
  if (windows.empty()) {
    Err(L"no window titled \"" + Escape(a.positional[0]) + L"\"");
    return kNotFound;
  }
  for (HWND hwnd : windows) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  const Deadline deadline(timeout);
  do {
    if (FindTopLevel(a.positional[0]).empty()) return kOk;
  } while (deadline.Tick());
  Err(L"window \"" + Escape(a.positional[0]) + L"\" still there after " + std::to_wstring(timeout) +
      L" ms");
  return kNotYet;
}

// What a double-click on the program's notification-area icon sends its window.
int CmdTrayDoubleClick(const Args& a) {
  constexpr UINT kTrayCallbackMessage = WM_USER + 1;
  constexpr WPARAM kTrayIconId = 125;
  if (a.positional.size() != 1) return kUsage;
  const std::vector<HWND> windows = FindTopLevel(a.positional[0]);
  if (windows.empty()) {
    Err(L"no window titled \"" + Escape(a.positional[0]) + L"\"");
    return kNotFound;
  }
  for (HWND hwnd : windows) {
    PostMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDOWN);
    PostMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP);
    PostMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
  }
  return kOk;
}

int CmdLock(const Args& a) {
  DWORD hold = 0;
  if (a.positional.size() != 2 || !ParseMs(a.positional[1], hold)) return kUsage;
  const std::wstring& path = a.positional[0];
  // Share mode 0: every other open of the file fails with a sharing violation while we hold it.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Err(L"cannot open \"" + Escape(path) + L"\", error " + std::to_wstring(GetLastError()));
    return kNotFound;
  }
  Out(L"LOCKED");
  Sleep(hold);
  CloseHandle(file);
  Out(L"RELEASED");
  return kOk;
}

int CmdVersion(const Args& a) {
  if (a.positional.size() != 1) return kUsage;
  const std::wstring& path = a.positional[0];
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<BYTE> data(size);
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
    Err(L"no version resource in \"" + Escape(path) + L"\", error " +
        std::to_wstring(GetLastError()));
    return kNotFound;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    Err(L"no fixed version in \"" + Escape(path) + L"\"");
    return kNotFound;
  }
  Out(std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
      std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
      std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
      std::to_wstring(LOWORD(fixed->dwFileVersionLS)));
  struct Translation {
    WORD language, code_page;
  }* translations = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    Err(L"no translation in \"" + Escape(path) + L"\"");
    return kNotFound;
  }
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translations[0].language,
           translations[0].code_page);
  for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion",
                              L"FileDescription"}) {
    wchar_t* text = nullptr;
    const std::wstring query = std::wstring(block) + name;
    const bool found = VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                      &length) && text != nullptr;
    Out(std::wstring(name) + L"=" + (found ? Escape(text) : std::wstring()));
  }
  return kOk;
}

int CmdLaunch(int argc, wchar_t** argv) {
  // Arguments are taken as they stand: the program's own may look like the probe's flags.
  if (argc < 4) return kUsage;
  DWORD show = 0;
  if (!ParseMs(argv[2], show) || show > 11) return kUsage;
  std::wstring command_line = L"\"" + std::wstring(argv[3]) + L"\"";
  for (int i = 4; i < argc; ++i) command_line += L" \"" + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION process{};
  // The program goes with the probe: killing the probe must not leave it behind.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }
  // Wine now and then fails a process creation right after its server restarted (error 1359):
  // the start is tried again for a few seconds before it counts as failed.
  DWORD error = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (CreateProcessW(argv[3], command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                       nullptr, nullptr, &startup, &process)) {
      error = 0;
      break;
    }
    error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) break;
    Sleep(500);
  }
  if (error != 0) {
    Err(L"cannot start \"" + Escape(argv[3]) + L"\", error " + std::to_wstring(error));
    if (job != nullptr) CloseHandle(job);
    return kNotFound;
  }
  if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  Out(L"STARTED " + std::to_wstring(process.dwProcessId));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (job != nullptr) CloseHandle(job);
  return static_cast<int>(code);
}

constexpr wchar_t kUsageText[] =
    L"usage: probe list\n"
    L"       probe wait-window CAPTION TIMEOUT [--visible]\n"
    L"       probe wait-gone CAPTION TIMEOUT\n"
    L"       probe texts CAPTION [TIMEOUT]\n"
    L"       probe text CAPTION ID [TIMEOUT]\n"
    L"       probe wait-text CAPTION ID TEXT TIMEOUT [--ready]\n"
    L"       probe click CAPTION ID [TIMEOUT] [--post] [--force]\n"
    L"       probe msgbox TITLE TIMEOUT [--press OK|CANCEL|YES|NO|ID]\n"
    L"       probe rect CAPTION\n"
    L"       probe layout CAPTION\n"
    L"       probe close CAPTION TIMEOUT\n"
    L"       probe dpi-changed CAPTION DPI\n"
    L"       probe launch SHOW EXE [ARGS...]\n"
    L"       probe lock FILE HOLD\n"
    L"       probe tray-dblclick CAPTION\n"
    L"       probe power CAPTION EVENT...\n"
    L"       probe version FILE\n"
    L"times in ms; exit 0 done, 1 not in time, 2 usage, 3 not found, 4 not clickable,\n"
    L"5 target not answering\n";

int Run(int argc, wchar_t** argv) {
  if (argc < 2) {
    WriteTo(STD_ERROR_HANDLE, kUsageText);
    return kUsage;
  }
  const std::wstring cmd = argv[1];
  if (cmd == L"launch") {
    const int rc = CmdLaunch(argc, argv);
    if (rc == kUsage) WriteTo(STD_ERROR_HANDLE, kUsageText);
    return rc;
  }
  const Args a = SplitArgs(argc, argv, 2);
  int rc = kUsage;
  if (cmd == L"list") {
    rc = a.positional.empty() ? CmdList() : kUsage;
  } else if (cmd == L"wait-window") {
    rc = CmdWaitWindow(a);
  } else if (cmd == L"wait-gone") {
    rc = CmdWaitGone(a);
  } else if (cmd == L"texts") {
    rc = CmdTexts(a);
  } else if (cmd == L"text") {
    rc = CmdText(a);
  } else if (cmd == L"wait-text") {
    rc = CmdWaitText(a);
  } else if (cmd == L"click") {
    rc = CmdClick(a);
  } else if (cmd == L"msgbox") {
    rc = CmdMsgbox(a);
  } else if (cmd == L"rect") {
    rc = CmdRect(a);
  } else if (cmd == L"layout") {
    rc = CmdLayout(a);
  } else if (cmd == L"close") {
    rc = CmdClose(a);
  } else if (cmd == L"dpi-changed") {
    rc = CmdDpiChanged(a);
  } else if (cmd == L"power") {
    rc = CmdPower(a);
  } else if (cmd == L"tray-dblclick") {
    rc = CmdTrayDoubleClick(a);
  } else if (cmd == L"version") {
    return CmdVersion(a);
  } else if (cmd == L"lock") {
    rc = CmdLock(a);
  } else {
    Err(L"unknown command: " + cmd);
  }
  if (rc == kUsage) WriteTo(STD_ERROR_HANDLE, kUsageText);
  return rc;
}

}  // namespace

int main() {
  // Rects in the screen's pixels, as the programs (which declare themselves DPI aware) see
  // them: an unaware probe would be handed rects scaled back to 96 DPI.
  SetProcessDPIAware();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return kUsage;
  const int rc = Run(argc, argv);
  LocalFree(argv);
  return rc;
}
