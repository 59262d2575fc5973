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
