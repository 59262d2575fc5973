#pragma once
// The serial-communications port on Win32. A helper thread keeps an overlapped read pending on
// the port, moves what arrives into an input buffer and issues the queued writes; it never
// touches the monitor's state. The communication event reaches the thread that created the port
// through a message-only window, so OnComm always runs on the UI thread, inside its message loop.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "unique_resource.h"
#include "serial_port.h"

namespace corva::win {

// A slim reader/writer lock used as a plain mutex (BasicLockable, for std::lock_guard). Unlike
// std::mutex on the posix-threads MinGW runtime, which creates an event the first time two
// threads meet in it and never closes it (the mutex is never destroyed through
// pthread_mutex_destroy), an SRW lock holds no kernel object and needs no cleanup.
class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&lock_); }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class WinSerialPort final : public corva::SerialPort {
 public:
  // Creates the port's message-only window on the calling thread, which must run a message loop
  // for the communication event to be delivered.
  WinSerialPort();
  ~WinSerialPort() override;
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;

  // "\\.\COM<n>", the name CreateFile opens for port n.
  static std::wstring DeviceName(int port);

  // Ignored while the port is open (the open port keeps its device).
  void SetCommPort(int port) override;
  int CommPort() const override { return comm_port_; }
  // Applied to the device at once when the port is open; a text the device refuses answers
  // false and leaves both the device and Settings as they were.
  bool SetSettings(std::string_view settings) override;
  std::string Settings() const override { return settings_text_; }
  void SetInputLen(int length) override;
  int InputLen() const { return input_len_; }
  void SetInputMode(int mode) override { input_mode_ = mode; }
  int InputMode() const { return input_mode_; }
  // The transmit buffer size handed to SetupComm at the next open.
  void SetOutBufferSize(int size) override;
  int OutBufferSize() const { return out_buffer_size_; }
  void SetSThreshold(int threshold) override;
  int SThreshold() const { return s_threshold_.load(); }
  void SetRThreshold(int threshold) override;
  int RThreshold() const override { return r_threshold_.load(); }

  bool SetPortOpen(bool open) override;
  bool PortOpen() const override { return session_ != nullptr; }

  int InBufferCount() const override;
  std::vector<std::uint8_t> Input() override;
  // Queues the bytes for the helper thread to write; OutBufferCount counts them until the write
  // that carries them completes.
  bool Output(std::span<const std::uint8_t> bytes) override;
  int OutBufferCount() const override;
  int CommEvent() const override { return comm_event_; }

  // Why the last open or settings change failed (a Win32 error code); 0 after a success.
  DWORD LastError() const { return last_error_; }
  // The message-only window that carries the communication event to the creating thread.
  HWND Window() const { return window_.get(); }

 private:
  struct Session;
  enum class Notice : WPARAM { kReceive = 1, kSend = 2, kLost = 3 };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnNotice(Notice notice, std::uint32_t generation);
  void Close();
  bool Configure(HANDLE port);
  // Helper-thread side.
  void Pump(Session& session, std::uint32_t generation);
  void Deliver(std::span<const std::uint8_t> bytes, std::uint32_t generation);
  void WriteDone(std::size_t bytes, std::uint32_t generation);
  void Post(Notice notice, std::uint32_t generation);

  // UI-thread state.
  int comm_port_ = 1;
  std::string settings_text_ = "9600,N,8,1";
  SerialSettings settings_;
  int input_len_ = 0;
  int input_mode_ = 0;
  int out_buffer_size_ = 512;
  int comm_event_ = 0;
  DWORD last_error_ = 0;
  std::uint32_t generation_ = 0;
  unique_hwnd window_;
  std::unique_ptr<Session> session_;

  // Shared with the helper thread.
  std::atomic<int> s_threshold_{0};
  std::atomic<int> r_threshold_{0};
  mutable SlimLock mutex_;
  std::vector<std::uint8_t> input_;      // guarded by mutex_
  std::vector<std::uint8_t> out_queue_;  // guarded by mutex_: not yet handed to WriteFile
  std::size_t out_pending_ = 0;          // guarded by mutex_: queued plus in flight
  bool send_armed_ = false;              // guarded by mutex_: an Output awaits its send event
  bool reading_paused_ = false;          // guarded by mutex_: input_ full, the driver holds on
  // At most one notice of each kind is in flight; the UI thread clears the flag when it handles
  // the notice, so a flood of bytes never floods the message queue.
  std::atomic<bool> receive_posted_{false};
  std::atomic<bool> send_posted_{false};
};

}  // namespace corva::win
