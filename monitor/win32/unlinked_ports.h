#pragma once
// Stand-ins for the links this build does not carry yet: no USB device is ever found (the
// monitor takes the serial link), and no tray icon is added (the window stays on the taskbar).

#include "ports.h"

namespace corva::win {

class NoUsbDevice final : public UsbLink {
 public:
  bool FindUsbDevice(std::string_view) override { return false; }
  // Like a write to a device handle that was never opened: it fails, and nobody is told.
  bool WriteUsbReport(std::span<const std::uint8_t>) override { return false; }
  void Close() override {}
};

class NoTrayIcon final : public ShellTray {
 public:
  int AddTrayIcon(std::string_view) override { return 0; }
  int ModifyTrayIcon(int, std::string_view) override { return 0; }
  int DeleteTrayIcon() override { return 0; }
  void ShowTrayBalloon(int, std::string_view, std::string_view) override {}
  void HookMainWindow() override {}
  void UnhookMainWindow() override {}
};

}  // namespace corva::win
