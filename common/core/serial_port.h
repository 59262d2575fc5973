#pragma once
// The serial-communications port as both programs use it: the properties of a classic serial
// control, with its communication event. The Win32 implementation delivers the event on the
// thread that created the port (the UI thread); tests use a fake.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corva {

// "9600,N,8,1": baud, parity (N, E, O, M, S), data bits (4..8), stop bits (1, 1.5, 2).
struct SerialSettings {
  std::uint32_t baud = 9600;
  char parity = 'N';
  int data_bits = 8;
  int stop_bits_x10 = 10;  // 10, 15 or 20
  friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};
std::optional<SerialSettings> ParseSerialSettings(std::string_view text);

// Communication events of a serial port (SerialPort::CommEvent).
namespace comm {
inline constexpr int kEventSend = 1;
inline constexpr int kEventReceive = 2;
// The device stopped answering reads (a USB-serial adapter unplugged, the far end gone): the
// port can take nothing more until it is opened again.
inline constexpr int kEventLost = 1100;
}  // namespace comm

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual void SetCommPort(int port) = 0;
  virtual int CommPort() const = 0;
  // False (and no change) when the text is not a valid settings text.
  virtual bool SetSettings(std::string_view settings) = 0;
  virtual std::string Settings() const = 0;
  virtual void SetInputLen(int length) = 0;
  virtual void SetInputMode(int mode) = 0;
  virtual void SetOutBufferSize(int size) = 0;
  virtual void SetSThreshold(int threshold) = 0;
  virtual void SetRThreshold(int threshold) = 0;
  virtual int RThreshold() const = 0;

  // Opening succeeds only when the port opens and accepts its settings; otherwise the port
  // stays closed. Answers PortOpen afterwards.
  virtual bool SetPortOpen(bool open) = 0;
  virtual bool PortOpen() const = 0;

  virtual int InBufferCount() const = 0;
  // Takes the waiting bytes (all of them with InputLen 0).
  virtual std::vector<std::uint8_t> Input() = 0;
  // Queues bytes for sending; false when the port is closed or the write fails.
  virtual bool Output(std::span<const std::uint8_t> bytes) = 0;
  virtual int OutBufferCount() const = 0;
  // The event being reported (comm::kEventReceive, comm::kEventSend or comm::kEventLost).
  virtual int CommEvent() const = 0;

  // The communication event handler (the control's OnComm).
  void SetOnComm(std::function<void()> handler) { on_comm_ = std::move(handler); }

 protected:
  void RaiseOnComm() {
    if (on_comm_) on_comm_();
  }

 private:
  std::function<void()> on_comm_;
};

}  // namespace corva
