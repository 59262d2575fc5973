#pragma once
// Stand-in for the link this build does not carry yet: no USB device is ever found, so the
// monitor takes the serial link.

#include "ports.h"

namespace corva::win {

class NoUsbDevice final : public UsbLink {
 public:
  bool FindUsbDevice(std::string_view) override { return false; }
  // Like a write to a device handle that was never opened: it fails, and nobody is told.
  bool WriteUsbReport(std::span<const std::uint8_t>) override { return false; }
  void Close() override {}
};

}  // namespace corva::win
