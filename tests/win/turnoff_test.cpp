// The serial turn-off sequence through the real main window and serial ports, against a UPS
// simulator on COM1. Run by tests/win/run_turnoff_test.sh, which checks what the UPS received.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "../fakes/fakes.h"
#include "control_ids.h"
#include "principal_window.h"
#include "unlinked_ports.h"
#include "win_platform.h"
#include "win_serial_port.h"

namespace corva::win {
namespace {

std::wstring MakeProgramFolder() {
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  wchar_t name[MAX_PATH] = {};
  ::GetTempFileNameW(base, L"cvt", 0, name);
  ::DeleteFileW(name);
  ::CreateDirectoryW(name, nullptr);
  std::ofstream ini((std::wstring(name) + L"\\Corvamon.ini").c_str(), std::ios::binary);
  ini << "[Inicio]\r\nDataString=&&&10\r\n[Apaga]\r\nApagaTNX=1\r\nApagaTNXMinutos=5\r\n";
  return name;
}

TEST(SerialTurnOff, PercentThenTheMinutesAfterThePauseThenTheMessage) {
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
  auto window = PrincipalWindow::Create(::GetModuleHandleW(nullptr),
                                        {usb, &tray, MSComm1, MSComm2, log, platform, shutdown, office}, folder);
  ASSERT_TRUE(window);
  ASSERT_FALSE(window->core().UsbMode());
  ASSERT_TRUE(MSComm1.PortOpen()) << "COM1 should be the simulator's pty";

  const ULONGLONG start = ::GetTickCount64();
  EXPECT_TRUE(window->core().SignalUpsTurnOffSerial());
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  EXPECT_GE(elapsed, 1200u);
  EXPECT_FALSE(MSComm1.PortOpen());
  EXPECT_FALSE(MSComm2.PortOpen());

  wchar_t text[64] = {};
  ::GetWindowTextW(::GetDlgItem(window->hwnd(), ids::lblmsg), text, 64);
  EXPECT_STREQ(text, L"TNX se apaga en 5 minutos");

  window.reset();
  ::DeleteFileW((folder + L"\\Corvamon.ini").c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace corva::win
