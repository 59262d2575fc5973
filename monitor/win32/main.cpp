// Corvamon: watches the UPS and protects this computer when mains power fails.

#include <windows.h>
#include <commctrl.h>

#include "hid_device.h"
#include "history_writer.h"
#include "monitor_feed.h"
#include "network_settings_file.h"
#include "nut_server.h"
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
  // Other computers that follow this UPS over the network, when [Red] asks for it. The server
  // runs on a thread of its own; the monitor only hands it copies.
  const corva::net::NetworkSettings red = corva::net::win::ReadNetworkSettings(
      corva::win::Narrow(folder + L"\\" + corva::win::Widen(corva::ini::kFileName)));
  std::unique_ptr<corva::net::win::NutServer> server;
  std::unique_ptr<corva::net::MonitorFeed> feed;
  bool server_failed = false;
  if (red.Servidor) {
    for (const std::string& entry : red.ignored) {
      ::OutputDebugStringW(corva::win::Widen("Corvamon: [Red] ignora \"" + entry + "\"").c_str());
    }
    server = std::make_unique<corva::net::win::NutServer>(red);
    const corva::net::win::StartResult started = server->Start();
    for (const corva::net::win::ListenFailure& failure : started.failures) {
      ::OutputDebugStringW(corva::win::Widen("Corvamon: " + failure.Text()).c_str());
    }
    if (started.listening) {
      feed = std::make_unique<corva::net::MonitorFeed>(*server, &corva::net::win::NutServer::Now,
                                                       red.EsperaSecundarios);
    } else {
      server.reset();
      server_failed = true;
    }
  }
  // The power history, unless [Prefs] Historial=0: a row a minute and one for each power event
  // in Historial.csv, written on this thread after the log, like it.
  namespace history = corva::history;
  std::unique_ptr<history::win::WinHistoryStore> history_store;
  std::unique_ptr<history::HistoryRecorder> recorder;
  std::unique_ptr<history::win::RecorderTimer> recorder_timer;
  if (history::win::HistorySettingOn(folder + L"\\" + corva::win::Widen(corva::ini::kFileName))) {
    history_store = std::make_unique<history::win::WinHistoryStore>(folder);
    recorder = std::make_unique<history::HistoryRecorder>(*history_store, &history::win::LocalNow,
                                                          history::win::UserCsvFormat());
    recorder_timer = std::make_unique<history::win::RecorderTimer>(*recorder);
  }
  corva::win::PrincipalWindow::Links links{usb, nullptr, MSComm1, MSComm2, log, platform, reboot,
                                           office};
  if (feed) links.listeners.push_back(feed.get());
  if (recorder) links.listeners.push_back(recorder.get());
  auto window = corva::win::PrincipalWindow::Create(instance, links, folder);
  if (!window) return 1;
  office.SetMainWindow(window->hwnd());
  window->Show(show_command);
  if (server_failed) {
    window->ShowMessage(corva::net::ServerNotStartedText(red.Puerto), corva::text::kMessageTitle);
  }

  MSG msg;
  BOOL got;
  while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (recorder) recorder->Flush();
  return static_cast<int>(msg.wParam);
}
