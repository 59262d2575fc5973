// Saving Office documents against the real system under Wine: the stand-in Office in another
// process reached through the running-object table, the time budget with a call that never
// returns, and the save folder's files.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "office_automation.h"
#include "office_saver.h"
#include "text.h"
#include "unique_resource.h"

namespace corva::win {
namespace {

std::wstring TempFolder(const wchar_t* name) {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(base) + name + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string ReadText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An automation object whose every call waits until the test lets it go.
class HangingObject final : public AutomationObject {
 public:
  explicit HangingObject(HANDLE release) : release_(release) {}
  AutomationValue Call(std::string_view, const std::vector<AutomationArg>&) override {
    ::WaitForSingleObject(release_, INFINITE);
    throw AutomationError("let go");
  }

 private:
  HANDLE release_;
};

class HangingOffice final : public OfficeAutomation {
 public:
  explicit HangingOffice(HANDLE release) : release_(release) {}
  std::shared_ptr<AutomationObject> GetRunningObject(std::string_view prog_id) override {
    if (prog_id != "Word.Application") return nullptr;
    return std::make_shared<HangingObject>(release_);
  }

 private:
  HANDLE release_;
};

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

TEST(WinOfficeSaver, AHungCallIsLeftBehindAtTheBudgetWhileTheWindowThreadRuns) {
  unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE release_handle = release.get();
  WinOfficeSaver saver("Corvamon", 1500,
                       [release_handle] { return std::make_unique<HangingOffice>(release_handle); });
  g_ticks = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, CountTick);
  const ULONGLONG t0 = ::GetTickCount64();
  saver.SaveAllOffice("C:\\");
  const ULONGLONG took = ::GetTickCount64() - t0;
  ::KillTimer(nullptr, timer);
  EXPECT_TRUE(saver.LastSavingAbandoned());
  EXPECT_GE(took, 1400u);
  EXPECT_LT(took, 3000u);
  EXPECT_GE(g_ticks, 5) << "the window thread's timers stopped while it waited";
  ::SetEvent(release.get());  // the saving thread ends now, past its budget, touching nothing
}

TEST(WinOfficeSaver, WithNoOfficeRunningTheSavingIsQuickAndComplete) {
  WinOfficeSaver saver;
  saver.SaveAllOffice("C:\\");
  EXPECT_FALSE(saver.LastSavingAbandoned());
  EXPECT_LT(saver.LastSavingMs(), 5000u);
  std::printf("saving with no Office running: %llu ms\n",
              static_cast<unsigned long long>(saver.LastSavingMs()));
}

// A window on a thread of its own that takes `hang_ms` to handle WM_CLOSE.
struct SlowWindow {
  DWORD hang_ms = 0;
  HWND window = nullptr;
  unique_handle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

LRESULT CALLBACK SlowWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    auto* slow = reinterpret_cast<SlowWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    ::Sleep(slow->hang_ms);
    ::DestroyWindow(hwnd);
    return 0;
  }
  if (msg == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI SlowWindowThread(void* param) {
  auto* slow = static_cast<SlowWindow*>(param);
  WNDCLASSW wc{};
  wc.lpfnWndProc = SlowWindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"CorvaSlowWindow";
  ::RegisterClassW(&wc);
  slow->window = ::CreateWindowExW(0, wc.lpszClassName, L"Lento", WS_POPUP, 0, 0, 10, 10, nullptr,
                                   nullptr, wc.hInstance, nullptr);
  ::SetWindowLongPtrW(slow->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slow));
  ::SetEvent(slow->ready.get());
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

TEST(WinDesktopWindows, AWindowSlowToCloseIsWaitedForNoLongerThanItsTimeout) {
  SlowWindow slow;
  slow.hang_ms = 6000;
  unique_handle thread(::CreateThread(nullptr, 0, SlowWindowThread, &slow, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(::WaitForSingleObject(slow.ready.get(), 10000), WAIT_OBJECT_0);
  WinDesktopWindows windows(nullptr);
  const ULONGLONG t0 = ::GetTickCount64();
  const bool closed = windows.SendClose(reinterpret_cast<WindowHandle>(slow.window), 500);
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_FALSE(closed);
  EXPECT_GE(took, 400u);
  EXPECT_LT(took, 3000u) << "the wait outlasted its timeout";
  // The window closes in the end, and its thread with it.
  EXPECT_EQ(::WaitForSingleObject(thread.get(), 15000), WAIT_OBJECT_0);
}

TEST(BusyCallRetry, RetriesABusyCallUntilTheDeadlineThenCancelsIt) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    BusyCallRetry retry(::GetTickCount64() + 60000);
    ASSERT_TRUE(retry.Registered());
    IMessageFilter* filter = retry.Filter();
    com_ptr<IMessageFilter> current;
    ::CoRegisterMessageFilter(nullptr, current.put());
    EXPECT_EQ(current.get(), filter) << "not the thread's filter";
    ::CoRegisterMessageFilter(current.get(), nullptr);
    for (const DWORD reject : {SERVERCALL_RETRYLATER, SERVERCALL_REJECTED}) {
      const DWORD answer = filter->RetryRejectedCall(nullptr, 1000, reject);
      EXPECT_NE(answer, static_cast<DWORD>(-1)) << "a busy call was cancelled";
      EXPECT_LE(answer, 5000u);
    }
    EXPECT_EQ(filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr),
              static_cast<DWORD>(SERVERCALL_ISHANDLED));
  }
  {
    BusyCallRetry spent(::GetTickCount64() - 1);
    EXPECT_EQ(spent.Filter()->RetryRejectedCall(nullptr, 1000, SERVERCALL_RETRYLATER),
              static_cast<DWORD>(-1));
  }
  // The thread's filter before them is back.
  com_ptr<IMessageFilter> current;
  ::CoRegisterMessageFilter(nullptr, current.put());
  EXPECT_FALSE(current);
  ::CoUninitialize();
}

TEST(WinSavingHost, HiddenAndSystemFilesAndFoldersAreTaken) {
  const std::wstring folder = TempFolder(L"corva_taken");
  const std::wstring hidden = folder + L"\\Documento1.doc";
  { std::ofstream(hidden.c_str()) << "mine"; }
  ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  WinSavingHost host;
  EXPECT_TRUE(host.NameTaken(Narrow(hidden)));
  EXPECT_TRUE(host.NameTaken(Narrow(folder)));
  EXPECT_FALSE(host.NameTaken(Narrow(folder + L"\\Documento2.doc")));
  ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(hidden.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

// The stand-in Office built beside this test program.
std::wstring StandInPath() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  path = path.substr(0, path.find_last_of(L'\\'));  // tests\win
  path = path.substr(0, path.find_last_of(L'\\'));  // tests
  return path + L"\\office_standin\\office_standin.exe";
}

TEST(WinOfficeSaver, SavesTheDocumentsOfAnOfficeInAnotherProcess) {
  const std::wstring folder = TempFolder(L"corva_standin");
  const std::wstring journal = folder + L"\\journal.txt";
  const std::wstring setup = folder + L"\\setup.txt";
  const std::string letter = Narrow(folder) + "\\Carta.doc";
  ::DeleteFileW(journal.c_str());
  for (const wchar_t* f : {L"\\Documento1.doc", L"\\Documento2.doc", L"\\Carta.doc", L"\\a_b.doc"}) {
    ::SetFileAttributesW((folder + f).c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW((folder + f).c_str());
  }
  {
    std::ofstream out(setup.c_str(), std::ios::binary);
    out << "Word\t1\tDocumento1\tDocumento1\n"
        << "Word\t1\t" << "Carta.doc\t" << letter << "\n"
        << "Word\t1\ta/b\ta/b\n";
  }
  // A hidden file of the user's holds the first name.
  const std::wstring hidden = folder + L"\\Documento1.doc";
  { std::ofstream(hidden.c_str()) << "mine"; }
  ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);

  std::wstring command = L"\"" + StandInPath() + L"\" \"" + setup + L"\" \"" + journal + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi))
      << "cannot start " << Narrow(StandInPath());
  unique_handle process(pi.hProcess), thread(pi.hThread);
  // Ready when its journal says so (or it ended).
  for (int i = 0; i < 300 && ReadText(journal).find("ready") == std::string::npos; ++i) {
    if (::WaitForSingleObject(process.get(), 100) == WAIT_OBJECT_0) break;
  }
  ASSERT_NE(ReadText(journal).find("standin ready"), std::string::npos) << ReadText(journal);

  WinOfficeSaver saver;
  saver.SaveAllOffice(Narrow(folder) + "\\");
  EXPECT_FALSE(saver.LastSavingAbandoned());
  EXPECT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0)
      << "the stand-in did not end after Quit:\n" << ReadText(journal);

  const std::string calls = ReadText(journal);
  EXPECT_NE(calls.find("Word1 dialog WM_CLOSE"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Word1 SaveAs " + Narrow(folder) + "\\Documento2.doc"), std::string::npos)
      << calls;
  EXPECT_NE(calls.find("Word1 SaveAs " + Narrow(folder) + "\\a_b.doc"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Word1 Save\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Word1 Quit"), std::string::npos) << calls;
  EXPECT_EQ(ReadText(hidden), "mine");
  EXPECT_TRUE(Exists(folder + L"\\Documento2.doc"));
  EXPECT_TRUE(Exists(folder + L"\\a_b.doc"));
  EXPECT_NE(ReadText(folder + L"\\Carta.doc").find("stand-in document"), std::string::npos);
}

}  // namespace
}  // namespace corva::win
