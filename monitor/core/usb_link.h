#pragma once
// The monitor's end of the USB link: the rules for reading and writing reports, over the HID
// device the Windows layer opens (HidDevice). Everything here is decided without windows.h.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ports.h"

namespace corva {

// The HID device as the Windows layer opens it (monitor/win32/hid_device.h).
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Opens the first HID device whose product string is exactly `product`.
  virtual bool Open(std::string_view product) = 0;
  // One input report into `buffer` (report id first), waiting at most `wait_ms`. Answers Lost
  // when the device fails the read (unplugged). Never waits longer than asked.
  virtual UsbRead Read(std::span<std::uint8_t> buffer, int wait_ms) = 0;
  // One output report exactly as given (report id first).
  virtual bool Write(std::span<const std::uint8_t> report) = 0;
  virtual void Close() = 0;

  // The last call to the system that failed on the device: its name and the system's error
  // code. Kept until the next failure, so that a lost device can be told apart from a refused
  // read when the log of a support case is read.
  struct Failure {
    std::string_view operation;  // a static name, empty when nothing failed
    std::uint32_t code = 0;
  };
  virtual Failure LastFailure() const { return {}; }
};

// How device errors reach the user: a message box, then the program ends when the system has
// an error code to go with it (AccessIODevice's ReportDeviceError).
class DeviceErrors {
 public:
  virtual ~DeviceErrors() = default;
  virtual void ReportDeviceError(std::string_view message) = 0;
};

namespace usb {
// Payload bytes one output report may carry (the report id makes 255).
inline constexpr std::size_t kMaxPayload = 254;
inline constexpr char kMaxByteCountMessage[] = "Maximum ByteCount for WriteUSBdevice is 254";
// A device that sends nothing for this long is taken for lost, as an unplugged one is.
inline constexpr std::uint64_t kSilenceLimitMs = 10000;
// The longest gap between two reads that counts as silence. A longer gap means the reads were
// held up (the computer was asleep, the program was busy), not that the device said nothing.
inline constexpr std::uint64_t kMaxSilenceStepMs = 2000;
}  // namespace usb

// Milliseconds from any fixed point; never goes back.
using MonotonicClock = std::function<std::uint64_t()>;

class HidUsbLink final : public UsbLink {
 public:
  HidUsbLink(HidDevice& device, DeviceErrors& errors, MonotonicClock clock);
  ~HidUsbLink() override;
  HidUsbLink(const HidUsbLink&) = delete;
  HidUsbLink& operator=(const HidUsbLink&) = delete;

  bool FindUsbDevice(std::string_view product) override;
  UsbRead ReadUsbReport(std::span<std::uint8_t> buffer, int wait_ms) override;
  bool WriteUsbReport(std::span<const std::uint8_t> payload) override;
  void Close() override;

  bool IsOpen() const { return open_; }
  // How long the device has been silent, as the loss rule counts it.
  std::uint64_t SilenceMs() const { return silence_ms_; }

 private:
  HidDevice& device_;
  DeviceErrors& errors_;
  MonotonicClock clock_;
  bool open_ = false;
  std::uint64_t silence_ms_ = 0;
  std::optional<std::uint64_t> last_read_ms_;
  std::vector<std::uint8_t> out_;
};

}  // namespace corva
