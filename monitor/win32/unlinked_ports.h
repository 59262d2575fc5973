#pragma once
// A USB link with no device behind it, for Windows-side tests that want the serial link whatever
// the machine has plugged in. Corvamon itself uses the real link (hid_device.h).

#include "ports.h"

namespace corva::win {

class NoUsbDevice final : public UsbLink {
 public:
  bool FindUsbDevice(std::string_view) override { return false; }
  UsbRead ReadUsbReport(std::span<std::uint8_t>, int) override {
    return {UsbRead::Status::Lost, 0};
  }
  // Like the real link with no device open: nothing goes out.
  bool WriteUsbReport(std::span<const std::uint8_t>) override { return false; }
  void Close() override {}
};

}  // namespace corva::win
