// Corvamon: watches the UPS and protects this computer when mains power fails.

#include <windows.h>
#include <commctrl.h>

#include "hid_device.h"
#include "office_saver.h"
#include "principal_window.h"
#include "protocol.h"
#include "text.h"
#include "win_platform.h"
#include "win_reboot_api.h"
#include "win_serial_port.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  corva::win::WinHidDevice usb_device;
  corva::win::WinDeviceErrors device_errors;
  corva::HidUsbLink usb(usb_device, device_errors, corva::win::SystemClock());
  corva::win::WinSerialPort MSComm1;
  corva::win::WinSerialPort MSComm2;  // keeps a port's defaults: COM1 at 9600,N,8,1
  MSComm2.SetCommPort(corva::protocol::kSerialPort);
  MSComm2.SetSettings(corva::protocol::kSerialSettings);
  const std::wstring folder = corva::win::ProgramDirectory();
  corva::win::WinLogFile log(folder + L"\\" + corva::win::Widen(corva::kLogFileName));
  corva::win::WinPlatform platform;
  corva::win::WinRebootApi reboot_api;
  corva::Reboot reboot(reboot_api, "Corvamon");
  corva::win::WinOfficeSaver office("Corvamon");
  auto window = corva::win::PrincipalWindow::Create(
      instance, {usb, nullptr, MSComm1, MSComm2, log, platform, reboot, office}, folder);
  if (!window) return 1;
  office.SetMainWindow(window->hwnd());
  window->Show(show_command);

  MSG msg;
  BOOL got;
  while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
