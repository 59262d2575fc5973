// The main window across a sleep of the computer, with real serial ports on COM1 against upssim.
// The pseudo-terminal the port held dies while the computer sleeps and a new one takes its place;
// the wake notice opens the port again and the frames are read on, with nothing said and nothing
// logged. Run by tests/win/run_resume_test.sh, which plays the UPS and swaps the terminals:
//
//   win_resume_tests.exe --asleep FILE --swapped FILE
//
// The test writes --asleep once the window has had the sleep notice, and waits for --swapped,
// which the script writes once the old terminal is gone and the new one is in its place.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "../fakes/fakes.h"
#include "control_ids.h"
#include "principal_window.h"
#include "unlinked_ports.h"
#include "win_platform.h"
#include "win_serial_port.h"

namespace corva::win {
namespace {

std::wstring g_asleep_file, g_swapped_file;

std::wstring MakeProgramFolder() {
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  wchar_t name[MAX_PATH] = {};
  ::GetTempFileNameW(base, L"cvr", 0, name);
  ::DeleteFileW(name);
  ::CreateDirectoryW(name, nullptr);
  std::ofstream ini((std::wstring(name) + L"\\Corvamon.ini").c_str(), std::ios::binary);
  ini << "[Inicio]\r\nDataString=&&&10\r\n[Prefs]\r\nBitacora=1\r\n";
  return name;
}

std::wstring Label(HWND window, int id) {
  wchar_t text[128] = {};
  ::GetWindowTextW(::GetDlgItem(window, id), text, 128);
  return text;
}

// Runs the window's messages until `done` answers true or `timeout_ms` passes; every lblmsg
// text seen meanwhile goes into `said`.
bool PumpUntil(HWND window, const std::function<bool()>& done, DWORD timeout_ms,
               std::wstring& said) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    const std::wstring message = Label(window, ids::lblmsg);
    if (!message.empty() && said.find(message) == std::wstring::npos) said += message + L"|";
    if (done()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                static_cast<DWORD>(std::min<ULONGLONG>(50, deadline - now)),
                                QS_ALLINPUT);
  }
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(SerialResume, APortDeadAfterTheSleepIsOpenedAgainAtTheWake) {
  ASSERT_FALSE(g_asleep_file.empty()) << "run through tests/win/run_resume_test.sh";
  const std::wstring folder = MakeProgramFolder();
  NoUsbDevice usb;
  fakes::FakeTray tray;
  WinSerialPort MSComm1, MSComm2;
  MSComm2.SetCommPort(1);
  MSComm2.SetSettings("9600,N,8,1");
  fakes::FakeLogFile log;
  WinPlatform platform;
  fakes::FakeShutdown shutdown;
  fakes::FakeOffice office;
  auto window = PrincipalWindow::Create(
      ::GetModuleHandleW(nullptr), {usb, &tray, MSComm1, MSComm2, log, platform, shutdown, office},
      folder);
  ASSERT_TRUE(window);
  ASSERT_TRUE(MSComm1.PortOpen()) << "COM1 should be the simulator's pty";
  const HWND hwnd = window->hwnd();
  Principal& core = window->core();

  std::wstring said;
  ASSERT_TRUE(PumpUntil(
      hwnd, [&] { return core.FramesDecoded() > 0; }, 15000, said))
      << "no frame before the sleep";

  ::SendMessageW(hwnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  std::ofstream(g_asleep_file.c_str()) << "asleep\n";
  ASSERT_TRUE(PumpUntil(
      hwnd, [] { return FileExists(g_swapped_file); }, 60000, said))
      << "the script did not swap the terminals";
  // Whatever the dead terminal did to the port meanwhile, frames stopped.
  PumpUntil(
      hwnd, [] { return false; }, 500, said);
  const std::uint64_t before = core.FramesDecoded();

  ::SendMessageW(hwnd, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
  ::SendMessageW(hwnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  // Well within the 5 s of the lost port's own search: the wake opened it.
  EXPECT_TRUE(PumpUntil(
      hwnd, [&] { return core.FramesDecoded() > before + 2; }, 4000, said))
      << "no frames after the wake";
  EXPECT_TRUE(MSComm1.PortOpen());
  EXPECT_EQ(MSComm1.CommPort(), 1);
  EXPECT_FALSE(window->TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_EQ(said, L"") << "lblmsg said something across the sleep";
  EXPECT_EQ(Label(hwnd, ids::lblfr), L"60.0 Hz");
  // The start is the only entry in the log.
  EXPECT_NE(log.contents.find("Inicio de Monitoreo KRD "), std::string::npos);
  EXPECT_EQ(log.contents.find("Inicio de Monitoreo KRD ", 1), std::string::npos);
  EXPECT_EQ(log.contents.find("energ"), std::string::npos) << log.contents;

  window.reset();
  ::DeleteFileW((folder + L"\\Corvamon.ini").c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace corva::win

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int wargc = 0;
  wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
  for (int i = 1; i + 1 < wargc; ++i) {
    const std::wstring flag = wargv[i];
    if (flag == L"--asleep") corva::win::g_asleep_file = wargv[i + 1];
    if (flag == L"--swapped") corva::win::g_swapped_file = wargv[i + 1];
  }
  ::LocalFree(wargv);
  return RUN_ALL_TESTS();
}
