#include "hid_device.h"

// mingw-w64's HID headers do not say extern "C" themselves.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <string>

namespace corva::win {
namespace {

using unique_preparsed_data =
    unique_resource<simple_traits<PHIDP_PREPARSED_DATA, ::HidD_FreePreparsedData>>;

// The device's input report length from its capabilities; 0 when it does not say.
std::size_t InputReportLengthOf(HANDLE device) {
  unique_preparsed_data data;
  if (!::HidD_GetPreparsedData(device, data.put())) return 0;
  HIDP_CAPS caps{};
  if (::HidP_GetCaps(data.get(), &caps) != HIDP_STATUS_SUCCESS) return 0;
  return caps.InputReportByteLength;
}

}  // namespace

WinHidDevice::WinHidDevice(Finder find) : find_(std::move(find)) {
  if (!find_) find_ = [](std::string_view product) { return FindUsbDevice(product); };
}

WinHidDevice::~WinHidDevice() { Close(); }

bool WinHidDevice::Open(std::string_view product) {
  Close();
  unique_file device = find_(product);
  if (!device) return false;
  unique_handle read_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  unique_handle write_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_done || !write_done) {
    Fail("CreateEvent");
    return false;
  }
  input_length_ = InputReportLengthOf(device.get());
  device_ = std::move(device);
  read_done_ = std::move(read_done);
  write_done_ = std::move(write_done);
  return true;
}

bool WinHidDevice::Finish(OVERLAPPED& overlapped, DWORD wait_ms, DWORD& bytes, DWORD& error) {
  if (::WaitForSingleObject(overlapped.hEvent, wait_ms) != WAIT_OBJECT_0) {
    // Not done in time. Once cancelled the transfer ends at once; it may also have finished in
    // the meantime, and then its result is what counts.
    ::CancelIoEx(device_.get(), &overlapped);
  }
  if (::GetOverlappedResult(device_.get(), &overlapped, &bytes, TRUE)) {
    error = ERROR_SUCCESS;
    return true;
  }
  error = ::GetLastError();
  // A read cancelled for want of a report is the normal case, not a failure.
  if (error != ERROR_OPERATION_ABORTED) Fail("GetOverlappedResult", error);
  return false;
}

UsbRead WinHidDevice::Read(std::span<std::uint8_t> buffer, int wait_ms) {
  if (!device_) return {UsbRead::Status::Lost, 0};
  // A read must take a whole input report; the caller gets the part it asked for.
  in_.assign(std::max(buffer.size(), input_length_), 0);
  OVERLAPPED overlapped{};
  overlapped.hEvent = read_done_.get();
  ::ResetEvent(overlapped.hEvent);
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
  bool done = ::ReadFile(device_.get(), in_.data(), static_cast<DWORD>(in_.size()), nullptr,
                         &overlapped) != FALSE;
  if (!done && ::GetLastError() != ERROR_IO_PENDING) {
    Fail("ReadFile");
    return {UsbRead::Status::Lost, 0};
  }
  done = Finish(overlapped, static_cast<DWORD>(std::max(wait_ms, 0)), bytes, error);
  if (!done) {
    // Cancelled for want of a report, or the device failed the read: unplugged.
    return {error == ERROR_OPERATION_ABORTED ? UsbRead::Status::Nothing : UsbRead::Status::Lost,
            0};
  }
  if (bytes == 0) return {UsbRead::Status::Nothing, 0};
  const std::size_t n = std::min<std::size_t>(bytes, buffer.size());
  std::copy_n(in_.begin(), n, buffer.begin());
  return {UsbRead::Status::Report, n};
}

bool WinHidDevice::Write(std::span<const std::uint8_t> report) {
  if (!device_ || report.empty()) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = write_done_.get();
  ::ResetEvent(overlapped.hEvent);
  // WriteFile does not change the bytes; the report stays alive until Finish has seen it end.
  const BOOL started = ::WriteFile(device_.get(), report.data(), static_cast<DWORD>(report.size()),
                                   nullptr, &overlapped);
  if (!started && ::GetLastError() != ERROR_IO_PENDING) {
    Fail("WriteFile");
    return false;
  }
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
  return Finish(overlapped, kWriteWaitMs, bytes, error) && bytes == report.size();
}

void WinHidDevice::Close() {
  // Every transfer ends within Read or Write, so nothing is in flight here.
  device_.reset();
  read_done_.reset();
  write_done_.reset();
  input_length_ = 0;
}

void WinHidDevice::Fail(std::string_view operation, DWORD code) {
  failure_ = {operation, static_cast<std::uint32_t>(code)};
  std::wstring line = L"Corvamon: ";
  line.append(operation.begin(), operation.end());
  line += L" on the UPS's USB device failed, error " + std::to_wstring(code) + L"\n";
  ::OutputDebugStringW(line.c_str());
}

void WinDeviceErrors::ReportDeviceError(std::string_view message) {
  corva::win::ReportDeviceError(message);
}

MonotonicClock SystemClock() {
  return [] { return static_cast<std::uint64_t>(::GetTickCount64()); };
}

}  // namespace corva::win
