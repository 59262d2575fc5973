#pragma once
// The UPS's HID device through the Windows API: found by AccessIODevice, read and written with
// overlapped I/O and bounded waits, so the window's thread never hangs on the device.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "access_io_device.h"
#include "unique_resource.h"
#include "usb_link.h"

namespace corva::win {

class WinHidDevice final : public HidDevice {
 public:
  // How the device is looked for; FindUsbDevice unless a test says otherwise.
  using Finder = std::function<unique_file(std::string_view product)>;
  explicit WinHidDevice(Finder find = {});
  ~WinHidDevice() override;
  WinHidDevice(const WinHidDevice&) = delete;
  WinHidDevice& operator=(const WinHidDevice&) = delete;

  bool Open(std::string_view product) override;
  // Starts a read and waits at most `wait_ms`; a read not done by then is cancelled, and its end
  // is waited for before the buffer is used again.
  UsbRead Read(std::span<std::uint8_t> buffer, int wait_ms) override;
  // Waits at most kWriteWaitMs for the report to leave.
  bool Write(std::span<const std::uint8_t> report) override;
  void Close() override;

  bool IsOpen() const { return static_cast<bool>(device_); }
  // The device's input report length (report id included), 0 when it did not say.
  std::size_t InputReportLength() const { return input_length_; }

  Failure LastFailure() const override { return failure_; }

  static constexpr DWORD kWriteWaitMs = 50;

 private:
  // Keeps GetLastError with the name of the call that failed, and says it on the debug output.
  void Fail(std::string_view operation) { Fail(operation, ::GetLastError()); }
  void Fail(std::string_view operation, DWORD code);

  // Waits for an overlapped transfer started on the device: at most `wait_ms`, then cancels it
  // and waits for it to end. Answers the transfer's result and the bytes moved.
  bool Finish(OVERLAPPED& overlapped, DWORD wait_ms, DWORD& bytes, DWORD& error);

  Finder find_;
  unique_file device_;
  unique_handle read_done_, write_done_;
  std::size_t input_length_ = 0;
  std::vector<std::uint8_t> in_;
  Failure failure_;
};

// The programs' device errors: AccessIODevice's ReportDeviceError.
class WinDeviceErrors final : public DeviceErrors {
 public:
  void ReportDeviceError(std::string_view message) override;
};

// Milliseconds since the system started (GetTickCount64).
MonotonicClock SystemClock();

}  // namespace corva::win
