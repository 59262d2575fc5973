#include "usb_link.h"

#include <algorithm>

namespace corva {

HidUsbLink::HidUsbLink(HidDevice& device, DeviceErrors& errors, MonotonicClock clock)
    : device_(device), errors_(errors), clock_(std::move(clock)) {}

HidUsbLink::~HidUsbLink() { Close(); }

bool HidUsbLink::FindUsbDevice(std::string_view product) {
  // A device that was lost still holds its handle until now: let it go before looking again.
  Close();
  open_ = device_.Open(product);
  silence_ms_ = 0;
  last_read_ms_.reset();
  return open_;
}

UsbRead HidUsbLink::ReadUsbReport(std::span<std::uint8_t> buffer, int wait_ms) {
  if (!open_) return {UsbRead::Status::Lost, 0};

  const std::uint64_t now = clock_();
  if (last_read_ms_ && now > *last_read_ms_) {
    silence_ms_ += std::min(now - *last_read_ms_, usb::kMaxSilenceStepMs);
  }
  last_read_ms_ = now;

  UsbRead read = device_.Read(buffer, std::max(0, wait_ms));
  switch (read.status) {
    case UsbRead::Status::Report:
      read.size = std::min(read.size, buffer.size());
      silence_ms_ = 0;
      last_read_ms_ = clock_();
      return read;
    case UsbRead::Status::Nothing:
      if (silence_ms_ < usb::kSilenceLimitMs) return {UsbRead::Status::Nothing, 0};
      break;
    case UsbRead::Status::Lost:
      break;
  }
  Close();
  return {UsbRead::Status::Lost, 0};
}

bool HidUsbLink::WriteUsbReport(std::span<const std::uint8_t> payload) {
  if (payload.size() > usb::kMaxPayload) {
    errors_.ReportDeviceError(usb::kMaxByteCountMessage);
    return false;
  }
  if (!open_) return false;
  out_.assign(1, 0);  // report id 0
  out_.insert(out_.end(), payload.begin(), payload.end());
  return device_.Write(out_);
}

void HidUsbLink::Close() {
  if (!open_) return;
  open_ = false;
  device_.Close();
}

}  // namespace corva
