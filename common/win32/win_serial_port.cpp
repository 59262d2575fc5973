#include "win_serial_port.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>


namespace corva::win {
namespace {

// The private message the helper thread posts to the port's window: wParam is the notice,
// lParam the generation of the open port that posted it.
constexpr UINT kCommMessage = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"CorvaSerialPortWindow";

constexpr DWORD kInBufferSize = 1024;  // handed to SetupComm
constexpr DWORD kDefaultOutBufferSize = 512;
constexpr std::size_t kReadChunk = 4096;  // largest single read
// Past this many unread bytes the helper stops reading and the driver keeps the rest, until
// Input makes room.
constexpr std::size_t kInputLimit = 64 * 1024;
// On close, bytes already queued get this long to reach the driver before they are dropped.
constexpr ULONGLONG kCloseDrainMs = 250;

HMODULE ThisModule() {
  static const char anchor = 0;
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

BYTE ParityCode(char parity) {
  switch (parity) {
    case 'E':
      return EVENPARITY;
    case 'O':
      return ODDPARITY;
    case 'M':
      return MARKPARITY;
    case 'S':
      return SPACEPARITY;
    default:
      return NOPARITY;
  }
}

BYTE StopBitsCode(int stop_bits_x10) {
  switch (stop_bits_x10) {
    case 15:
      return ONE5STOPBITS;
    case 20:
      return TWOSTOPBITS;
    default:
      return ONESTOPBIT;
  }
}

// The line as the settings describe it: no flow control of any kind (status frames are binary,
// so XON/XOFF would swallow bytes), DTR and RTS raised.
bool ApplySettings(HANDLE port, const SerialSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!::GetCommState(port, &dcb)) return false;
  dcb.BaudRate = settings.baud;
  dcb.ByteSize = static_cast<BYTE>(settings.data_bits);
  dcb.Parity = ParityCode(settings.parity);
  dcb.StopBits = StopBitsCode(settings.stop_bits_x10);
  dcb.fParity = dcb.Parity != NOPARITY;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  return ::SetCommState(port, &dcb) != FALSE;
}

DWORD ErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != 0 ? error : fallback;
}

}  // namespace

// Everything that exists only while the port is open.
struct WinSerialPort::Session {
  unique_file port;
  unique_handle stop;        // manual reset: the helper thread winds down
  unique_handle kick;        // auto reset: output was queued, or Input made room
  unique_handle read_done;   // manual reset, the read's OVERLAPPED event
  unique_handle write_done;  // manual reset, the write's OVERLAPPED event
  std::thread helper;
};

WinSerialPort::WinSerialPort() {
  settings_ = *ParseSerialSettings(settings_text_);
  static const ATOM window_class = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WinSerialPort::WindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&wc);
  }();
  if (window_class == 0) return;  // the port will refuse to open
  window_.reset(::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), this));
}

WinSerialPort::~WinSerialPort() {
  Close();
  if (window_) ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

std::wstring WinSerialPort::DeviceName(int port) {
  return L"\\\\.\\COM" + std::to_wstring(port);
}

void WinSerialPort::SetCommPort(int port) {
  if (port < 1 || PortOpen()) return;
  comm_port_ = port;
}

bool WinSerialPort::SetSettings(std::string_view settings) {
  const std::optional<SerialSettings> parsed = ParseSerialSettings(settings);
  if (!parsed) return false;
  if (session_) {
    const HANDLE port = session_->port.get();
    DCB previous{};
    previous.DCBlength = sizeof(previous);
    if (!::GetCommState(port, &previous)) {
      last_error_ = ErrorOr(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (!ApplySettings(port, *parsed)) {
      last_error_ = ErrorOr(ERROR_INVALID_PARAMETER);
      ::SetCommState(port, &previous);  // a refused change may have applied part of itself
      return false;
    }
  }
  settings_ = *parsed;
  settings_text_ = std::string(settings);
  last_error_ = 0;
  return true;
}

void WinSerialPort::SetInputLen(int length) {
  input_len_ = std::max(length, 0);
}

void WinSerialPort::SetOutBufferSize(int size) {
  if (size > 0) out_buffer_size_ = size;
}

void WinSerialPort::SetSThreshold(int threshold) {
  s_threshold_.store(std::max(threshold, 0));
}

void WinSerialPort::SetRThreshold(int threshold) {
  r_threshold_.store(std::max(threshold, 0));
}

bool WinSerialPort::Configure(HANDLE port) {
  const DWORD out_size =
      out_buffer_size_ > 0 ? static_cast<DWORD>(out_buffer_size_) : kDefaultOutBufferSize;
  if (!::SetupComm(port, kInBufferSize, out_size)) return false;
  if (!ApplySettings(port, settings_)) return false;
  // No timeouts: a read completes once it has every byte it asked for. The helper asks for what
  // is waiting, or for one byte when nothing is, so a read never waits longer than it must.
  COMMTIMEOUTS timeouts{};
  if (!::SetCommTimeouts(port, &timeouts)) return false;
  // A freshly opened port starts empty, whatever the device kept while nobody listened.
  ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  return true;
}

bool WinSerialPort::SetPortOpen(bool open) {
  if (!open) {
    Close();
    return false;
  }
  if (session_) return true;
  if (!window_) {
    last_error_ = ERROR_INVALID_WINDOW_HANDLE;
    return false;
  }

  auto session = std::make_unique<Session>();
  session->port.reset(::CreateFileW(DeviceName(comm_port_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!session->port) {
    last_error_ = ErrorOr(ERROR_FILE_NOT_FOUND);
    return false;
  }
  // A device that opens but refuses its settings (a file, a console, a line that cannot run
  // at this speed) is no serial port for us: the handle closes with `session`.
  if (!Configure(session->port.get())) {
    last_error_ = ErrorOr(ERROR_INVALID_PARAMETER);
    return false;
  }
  session->stop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  session->kick.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  session->read_done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  session->write_done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!session->stop || !session->kick || !session->read_done || !session->write_done) {
    last_error_ = ErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }

  {
    std::lock_guard lock(mutex_);
    input_.clear();
    out_queue_.clear();
    out_pending_ = 0;
    send_armed_ = false;
    reading_paused_ = false;
  }
  receive_posted_.store(false);
  send_posted_.store(false);
  const std::uint32_t generation = ++generation_;
  try {
    Session* running = session.get();
    session->helper = std::thread([this, running, generation] { Pump(*running, generation); });
  } catch (const std::system_error&) {
    last_error_ = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  session_ = std::move(session);
  last_error_ = 0;
  return true;
}

void WinSerialPort::Close() {
  if (!session_) return;
  ::SetEvent(session_->stop.get());
  session_->helper.join();
  session_.reset();  // closes the port and the events, now that no I/O is pending
  std::lock_guard lock(mutex_);
  input_.clear();
  out_queue_.clear();
  out_pending_ = 0;
  send_armed_ = false;
}

int WinSerialPort::InBufferCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(input_.size());
}

std::vector<std::uint8_t> WinSerialPort::Input() {
  std::vector<std::uint8_t> taken;
  bool resume = false;
  {
    std::lock_guard lock(mutex_);
    std::size_t count = input_.size();
    if (input_len_ > 0) count = std::min(count, static_cast<std::size_t>(input_len_));
    taken.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
    if (reading_paused_ && input_.size() < kInputLimit) {
      reading_paused_ = false;
      resume = true;
    }
  }
  if (resume && session_) ::SetEvent(session_->kick.get());
  return taken;
}

bool WinSerialPort::Output(std::span<const std::uint8_t> bytes) {
  if (!session_) return false;
  if (bytes.empty()) return true;
  {
    std::lock_guard lock(mutex_);
    out_queue_.insert(out_queue_.end(), bytes.begin(), bytes.end());
    out_pending_ += bytes.size();
    send_armed_ = true;
  }
  ::SetEvent(session_->kick.get());
  return true;
}

int WinSerialPort::OutBufferCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(out_pending_);
}

LRESULT CALLBACK WinSerialPort::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == kCommMessage) {
    auto* port = reinterpret_cast<WinSerialPort*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (port) port->OnNotice(static_cast<Notice>(wparam), static_cast<std::uint32_t>(lparam));
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

// UI thread. The handler may close (and reopen) the port, so RaiseOnComm comes last.
void WinSerialPort::OnNotice(Notice notice, std::uint32_t generation) {
  if (!session_ || generation != generation_) return;  // posted before the port was closed
  if (notice == Notice::kLost) {
    comm_event_ = comm::kEventLost;
  } else if (notice == Notice::kReceive) {
    std::size_t waiting = 0;
    {
      std::lock_guard lock(mutex_);
      receive_posted_.store(false);  // later arrivals may notify again
      waiting = input_.size();
    }
    const int threshold = r_threshold_.load();
    if (threshold <= 0 || waiting < static_cast<std::size_t>(threshold)) return;
    comm_event_ = comm::kEventReceive;
  } else {
    std::size_t pending = 0;
    {
      std::lock_guard lock(mutex_);
      send_posted_.store(false);
      pending = out_pending_;
    }
    const int threshold = s_threshold_.load();
    if (threshold <= 0 || pending >= static_cast<std::size_t>(threshold)) return;
    comm_event_ = comm::kEventSend;
  }
  RaiseOnComm();
}

// Helper thread from here on: it owns the two OVERLAPPED structures and their buffers, and only
// reaches the UI thread through Post.

void WinSerialPort::Post(Notice notice, std::uint32_t generation) {
  if (::PostMessageW(window_.get(), kCommMessage, static_cast<WPARAM>(notice),
                     static_cast<LPARAM>(generation))) {
    return;
  }
  // The queue is full: let a later arrival or completion try again.
  (notice == Notice::kReceive ? receive_posted_ : send_posted_).store(false);
}

void WinSerialPort::Deliver(std::span<const std::uint8_t> bytes, std::uint32_t generation) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    if (input_.size() >= kInputLimit) reading_paused_ = true;
    const int threshold = r_threshold_.load();
    if (threshold > 0 && input_.size() >= static_cast<std::size_t>(threshold)) {
      post = !receive_posted_.exchange(true);  // at most one receive notice in flight
    }
  }
  if (post) Post(Notice::kReceive, generation);
}

void WinSerialPort::WriteDone(std::size_t bytes, std::uint32_t generation) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    out_pending_ -= std::min(bytes, out_pending_);
    const int threshold = s_threshold_.load();
    if (send_armed_ && threshold > 0 && out_pending_ < static_cast<std::size_t>(threshold)) {
      send_armed_ = false;
      post = !send_posted_.exchange(true);
    }
    if (out_pending_ == 0) send_armed_ = false;
  }
  if (post) Post(Notice::kSend, generation);
}

void WinSerialPort::Pump(Session& session, std::uint32_t generation) {
  const HANDLE port = session.port.get();
  std::vector<std::uint8_t> read_buffer(kReadChunk);
  std::vector<std::uint8_t> write_buffer;
  OVERLAPPED read_ov{};
  OVERLAPPED write_ov{};
  bool reading = false;
  bool writing = false;
  bool read_failed = false;
  bool stopping = false;
  ULONGLONG drain_deadline = 0;

  const auto paused = [this] {
    std::lock_guard lock(mutex_);
    return reading_paused_;
  };

  // Asks for what is already waiting, or for a single byte, which completes the moment the
  // first byte arrives.
  const auto start_read = [&] {
    DWORD wanted = 1;
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(port, &errors, &status) && status.cbInQue > 0) {
      wanted = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(read_buffer.size()));
    }
    read_ov = OVERLAPPED{};
    read_ov.hEvent = session.read_done.get();
    ::ResetEvent(read_ov.hEvent);
    // Completion, immediate or not, is reported through the event.
    if (::ReadFile(port, read_buffer.data(), wanted, nullptr, &read_ov) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      reading = true;
    } else {
      read_failed = true;  // the device is gone; writes and the stop request still work
      Post(Notice::kLost, generation);
    }
  };

  const auto finish_read = [&] {
    reading = false;
    DWORD got = 0;
    if (!::GetOverlappedResult(port, &read_ov, &got, FALSE) || got == 0) {
      read_failed = true;
      Post(Notice::kLost, generation);
      return;
    }
    Deliver(std::span(read_buffer.data(), got), generation);
  };

  const auto start_write = [&] {
    {
      std::lock_guard lock(mutex_);
      if (out_queue_.empty()) return;
      write_buffer = std::move(out_queue_);
      out_queue_.clear();
    }
    write_ov = OVERLAPPED{};
    write_ov.hEvent = session.write_done.get();
    ::ResetEvent(write_ov.hEvent);
    if (::WriteFile(port, write_buffer.data(), static_cast<DWORD>(write_buffer.size()), nullptr,
                    &write_ov) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      writing = true;
    } else {
      WriteDone(write_buffer.size(), generation);  // the bytes are lost with the device
    }
  };

  const auto finish_write = [&] {
    writing = false;
    DWORD sent = 0;
    const bool ok = ::GetOverlappedResult(port, &write_ov, &sent, FALSE) != FALSE;
    if (ok && sent > 0 && sent < write_buffer.size()) {
      std::lock_guard lock(mutex_);  // cut short: the rest goes first next time
      out_queue_.insert(out_queue_.begin(), write_buffer.begin() + sent, write_buffer.end());
    } else {
      sent = static_cast<DWORD>(write_buffer.size());  // done, or lost with the device
    }
    WriteDone(sent, generation);
  };

  const auto cancel = [port](OVERLAPPED& ov) {
    DWORD ignored = 0;
    ::CancelIoEx(port, &ov);
    ::GetOverlappedResult(port, &ov, &ignored, TRUE);  // the I/O is over before `ov` goes
  };

  enum class Wake { kStop, kWrite, kRead, kKick };
  for (;;) {
    if (!stopping && !reading && !read_failed && !paused()) start_read();
    if (!writing) start_write();
    if (stopping && !writing) return;

    // The stop request comes first, and completed writes before reads, so that neither a
    // flood of input nor anything else can hold the port open.
    HANDLE waits[4];
    Wake wakes[4];
    DWORD count = 0;
    if (!stopping) {
      waits[count] = session.stop.get();
      wakes[count++] = Wake::kStop;
    }
    if (writing) {
      waits[count] = session.write_done.get();
      wakes[count++] = Wake::kWrite;
    }
    if (reading) {
      waits[count] = session.read_done.get();
      wakes[count++] = Wake::kRead;
    }
    if (!stopping) {
      waits[count] = session.kick.get();
      wakes[count++] = Wake::kKick;
    }
    DWORD timeout = INFINITE;
    if (stopping) {
      const ULONGLONG now = ::GetTickCount64();
      timeout = now < drain_deadline ? static_cast<DWORD>(drain_deadline - now) : 0;
    }

    const DWORD woke = ::WaitForMultipleObjects(count, waits, FALSE, timeout);
    if (woke >= WAIT_OBJECT_0 + count) {  // out of time while closing, or the wait failed
      if (reading) cancel(read_ov);
      if (writing) cancel(write_ov);
      return;
    }
    switch (wakes[woke - WAIT_OBJECT_0]) {
      case Wake::kStop:
        stopping = true;
        drain_deadline = ::GetTickCount64() + kCloseDrainMs;
        if (reading) cancel(read_ov);
        reading = false;
        break;
      case Wake::kWrite:
        finish_write();
        break;
      case Wake::kRead:
        finish_read();
        break;
      case Wake::kKick:
        break;  // the top of the loop writes what was queued or resumes reading
    }
  }
}

}  // namespace corva::win
