// WinSerialPort against a real pseudo-terminal under Wine. The Linux side is pty_driver.py, which
// run_serial_tests.sh starts and maps to a COM port; the tests drive it over a local socket.
//
//   win_serial_tests.exe --com=7 --driver=127.0.0.1:PORT --null-com=8 --missing-com=9
//
// (or CORVA_SERIAL_COM, CORVA_SERIAL_DRIVER, CORVA_SERIAL_NULL_COM, CORVA_SERIAL_MISSING_COM).
// --null-com names a port mapped to /dev/null, --missing-com one with no device at all.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol.h"
#include "unique_resource.h"
#include "win_serial_port.h"

namespace {

using corva::win::WinSerialPort;
using Bytes = std::vector<std::uint8_t>;

struct TestConfig {
  int com = 0;
  std::string driver_host;
  int driver_port = 0;
  int null_com = 0;
  int missing_com = 0;
};
TestConfig g_config;

// The receive threshold the monitor runs with.
constexpr int kThreshold = corva::protocol::kSerialRThreshold;
// Long enough for anything the pty has been given to reach the port several times over; used
// where a test shows that something does NOT happen, or lets arrivals pile up unhandled.
constexpr DWORD kSettleMs = 300;
// Upper bound for things that should happen; only reached when a test is failing.
constexpr DWORD kWaitMs = 5000;

using unique_socket =
    corva::win::unique_resource<corva::win::simple_traits<SOCKET, ::closesocket, INVALID_SOCKET>>;

std::string ToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::optional<Bytes> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const std::string pair(hex.substr(i, 2));
    char* end = nullptr;
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

// Bytes that differ from block to block and include the ones a misconfigured line mangles:
// NUL, XON/XOFF, CR/LF, 0xFF.
Bytes Pattern(std::size_t count, std::uint8_t seed) {
  static constexpr std::uint8_t kTricky[] = {0x00, 0x11, 0x13, 0x0D, 0x0A, 0xFF, 0x7F, 0x80};
  Bytes bytes;
  for (std::size_t i = 0; i < count; ++i) {
    bytes.push_back(i % 3 == 1 ? kTricky[(i / 3 + seed) % 8]
                               : static_cast<std::uint8_t>(seed * 31 + i * 7));
  }
  return bytes;
}

Bytes AllByteValues() {
  Bytes bytes;
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// The pty driver's command line, one request and one answer a line.
class Driver {
 public:
  bool Connect() {
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_) return false;
    const DWORD timeout_ms = 15000;  // no answer in this time means the driver is gone
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                 sizeof(timeout_ms));
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                 sizeof(timeout_ms));
    BOOL no_delay = TRUE;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
                 sizeof(no_delay));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(g_config.driver_port));
    if (::inet_pton(AF_INET, g_config.driver_host.c_str(), &address.sin_addr) != 1) return false;
    return ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
               0 &&
           Command("ping") == "ok";
  }

  std::string Command(const std::string& line) {
    const std::string request = line + "\n";
    if (::send(socket_.get(), request.data(), static_cast<int>(request.size()), 0) !=
        static_cast<int>(request.size())) {
      return "error: send failed";
    }
    std::string answer;
    char c = 0;
    while (::recv(socket_.get(), &c, 1, 0) == 1) {
      if (c == '\n') return answer;
      answer += c;
    }
    return "error: no answer to " + line;
  }

  bool Send(const Bytes& bytes) { return Command("send " + ToHex(bytes)) == "ok"; }

  // Up to `count` bytes that the port wrote, waiting at most `timeout_ms`.
  Bytes Read(std::size_t count, DWORD timeout_ms) {
    return Data(Command("read " + std::to_string(count) + " " + std::to_string(timeout_ms)));
  }

  // Whatever the port writes within `ms`.
  Bytes Quiet(DWORD ms) { return Data(Command("quiet " + std::to_string(ms))); }

  bool Drain() { return Command("drain").rfind("ok", 0) == 0; }

 private:
  static Bytes Data(const std::string& answer) {
    if (answer.rfind("data ", 0) != 0) {
      ADD_FAILURE() << "driver answered: " << answer;
      return {};
    }
    return FromHex(std::string_view(answer).substr(5)).value_or(Bytes{});
  }

  unique_socket socket_;
};

// Runs this thread's message loop until `done` holds or `timeout_ms` passes; answers done().
template <typename Done>
bool PumpUntil(Done done, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      if (done()) return true;
    }
    if (done()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

// Waits, without dispatching anything, until a message for `window` sits in this thread's queue.
bool WaitForQueuedMessage(HWND window, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    MSG msg;
    if (::PeekMessageW(&msg, window, 0, 0, PM_NOREMOVE)) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_POSTMESSAGE,
                                  0);
  }
}

// Handles this process holds. Wine's GetProcessHandleCount answers 0, so there the process's
// entries in the system handle table are counted instead.
struct HandleEntry {
  PVOID object;
  ULONG_PTR process_id;
  ULONG_PTR handle;
  ULONG access;
  USHORT back_trace_index;
  USHORT type_index;
  ULONG attributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};
constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

std::optional<DWORD> CountHandles() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) return count;
  std::vector<unsigned char> buffer(1 << 16);
  NTSTATUS status;
  ULONG needed = 0;
  while ((status = ::NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
         kStatusInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return std::nullopt;
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  const ULONG_PTR self = ::GetCurrentProcessId();
  count = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) count += table->entries[i].process_id == self;
  return count;
}

// What the port looked like each time OnComm ran.
struct CommRecord {
  int event;
  int in_count;
  int out_count;
  DWORD thread;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(driver_.Connect())
        << "cannot reach the pty driver at " << g_config.driver_host << ":" << g_config.driver_port;
    port_.SetCommPort(g_config.com);
    ASSERT_TRUE(port_.SetSettings(corva::protocol::kSerialSettings));
    port_.SetOnComm([this] {
      events_.push_back({port_.CommEvent(), port_.InBufferCount(), port_.OutBufferCount(),
                         ::GetCurrentThreadId()});
    });
  }

  void Open() {
    ASSERT_TRUE(port_.SetPortOpen(true))
        << "COM" << g_config.com << ", error " << port_.LastError();
    ASSERT_TRUE(driver_.Drain());
  }

  // Pumps messages until an OnComm has seen `count` bytes waiting.
  bool WaitForWaiting(int count) {
    return PumpUntil([&] { return !events_.empty() && events_.back().in_count == count; }, kWaitMs);
  }

  WinSerialPort port_;
  Driver driver_;
  std::vector<CommRecord> events_;
};

TEST(SerialPortNameTest, DeviceNameIsTheWin32DevicePath) {
  EXPECT_EQ(WinSerialPort::DeviceName(1), L"\\\\.\\COM1");
  EXPECT_EQ(WinSerialPort::DeviceName(12), L"\\\\.\\COM12");
}

// ---- opening, settings, closing ----

using SerialPortOpenTest = SerialPortTest;

TEST_F(SerialPortOpenTest, OpensWithTheMonitorSettingsAndCloses) {
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_TRUE(port_.SetPortOpen(true)) << "error " << port_.LastError();
  EXPECT_TRUE(port_.PortOpen());
  EXPECT_EQ(port_.LastError(), 0u);
  EXPECT_EQ(port_.Settings(), corva::protocol::kSerialSettings);
  EXPECT_TRUE(port_.SetPortOpen(true));  // opening an open port changes nothing
  EXPECT_FALSE(port_.SetPortOpen(false));
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_FALSE(port_.SetPortOpen(false));  // nor does closing a closed one
}

TEST_F(SerialPortOpenTest, DeviceThatRefusesTheSettingsLeavesThePortClosed) {
  // A pseudo-terminal carries 8 data bits only: the device opens, SetCommState fails.
  ASSERT_TRUE(port_.SetSettings("9600,N,7,1"));
  EXPECT_FALSE(port_.SetPortOpen(true));
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_NE(port_.LastError(), 0u);
  EXPECT_FALSE(port_.Output(Bytes{1, 2, 3}));
  // The failed open let go of the device.
  ASSERT_TRUE(port_.SetSettings("9600,N,8,1"));
  EXPECT_TRUE(port_.SetPortOpen(true)) << "error " << port_.LastError();
}

TEST_F(SerialPortOpenTest, DeviceThatIsNoSerialPortLeavesThePortClosed) {
  port_.SetCommPort(g_config.null_com);  // mapped to /dev/null: CreateFile works, GetCommState not
  EXPECT_FALSE(port_.SetPortOpen(true));
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_NE(port_.LastError(), 0u);
}

TEST_F(SerialPortOpenTest, MissingDeviceLeavesThePortClosed) {
  port_.SetCommPort(g_config.missing_com);
  EXPECT_FALSE(port_.SetPortOpen(true));
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_NE(port_.LastError(), 0u);
  EXPECT_EQ(port_.InBufferCount(), 0);
  EXPECT_TRUE(port_.Input().empty());
}

TEST_F(SerialPortOpenTest, SettingsChangeWhileOpenReachesTheDeviceOrChangesNothing) {
  Open();
  EXPECT_TRUE(port_.SetSettings("19200,N,8,1")) << "error " << port_.LastError();
  EXPECT_EQ(port_.Settings(), "19200,N,8,1");
  EXPECT_FALSE(port_.SetSettings("9600,X,8,1"));  // not a settings text
  EXPECT_FALSE(port_.SetSettings("9600,N,7,1"));  // refused by the device
  EXPECT_NE(port_.LastError(), 0u);
  EXPECT_EQ(port_.Settings(), "19200,N,8,1");
  EXPECT_TRUE(port_.PortOpen());
  // The line still works after the refused change.
  port_.SetRThreshold(kThreshold);
  const Bytes block = Pattern(kThreshold, 1);
  ASSERT_TRUE(driver_.Send(block));
  ASSERT_TRUE(WaitForWaiting(kThreshold));
  EXPECT_EQ(port_.Input(), block);
}

TEST_F(SerialPortOpenTest, CommPortIsFixedWhileOpen) {
  Open();
  port_.SetCommPort(g_config.com + 1);
  EXPECT_EQ(port_.CommPort(), g_config.com);
  port_.SetPortOpen(false);
  port_.SetCommPort(3);
  EXPECT_EQ(port_.CommPort(), 3);
  port_.SetCommPort(0);
  EXPECT_EQ(port_.CommPort(), 3);
}

TEST_F(SerialPortOpenTest, ReopensAfterCloseAndASecondPortTakesOver) {
  Open();
  port_.SetRThreshold(kThreshold);
  ASSERT_FALSE(port_.SetPortOpen(false));
  Open();
  const Bytes first = Pattern(kThreshold, 2);
  ASSERT_TRUE(driver_.Send(first));
  ASSERT_TRUE(WaitForWaiting(kThreshold));
  EXPECT_EQ(port_.Input(), first);

  // The monitor's hand-over: the status port closes, a second port object opens the same COM
  // port for sending.
  port_.SetPortOpen(false);
  WinSerialPort sender;
  sender.SetCommPort(g_config.com);
  ASSERT_TRUE(sender.SetPortOpen(true)) << "error " << sender.LastError();
  const Bytes command = {corva::protocol::kCmdTurnOff, 2};
  ASSERT_TRUE(sender.Output(command));
  EXPECT_EQ(driver_.Read(command.size(), kWaitMs), command);
}

TEST_F(SerialPortOpenTest, OpenCloseCyclesLeakNoHandles) {
  port_.SetRThreshold(1);
  const auto cycle = [this](std::uint8_t seed) {
    ASSERT_TRUE(port_.SetPortOpen(true)) << "error " << port_.LastError();
    events_.clear();
    ASSERT_TRUE(driver_.Send(Bytes{seed}));
    ASSERT_TRUE(WaitForWaiting(1));
    ASSERT_TRUE(port_.Output(Bytes{seed}));
    EXPECT_EQ(driver_.Read(1, kWaitMs), Bytes{seed});
    port_.SetPortOpen(false);
  };
  const auto whole_port = [this] {  // a port object made and ended, window and all
    WinSerialPort port;
    port.SetCommPort(g_config.com);
    port.SetRThreshold(1);
    ASSERT_TRUE(port.SetPortOpen(true)) << "error " << port.LastError();
    ASSERT_TRUE(port.Output(Bytes{0x42}));
    EXPECT_EQ(driver_.Read(1, kWaitMs), Bytes{0x42});
  };
  const auto batch = [&] {
    for (int i = 1; i <= 20; ++i) cycle(static_cast<std::uint8_t>(i));
    for (int i = 1; i <= 5; ++i) whole_port();
  };
  // A whole first batch before counting: the first opens and port objects may set up things
  // that stay for the process's life, and on a loaded machine a slow path (a timed-out wait)
  // may do so later in the batch. A leak grows with every batch; those do not.
  batch();
  // The ports' reader threads end on their own after the close: wait for the count to settle
  // (two readings in a row agree) and then to come back (a leak never does), rather than for a
  // fixed time, which a loaded machine outlasts.
  std::optional<DWORD> before;
  std::optional<DWORD> previous;
  PumpUntil(
      [&] {
        previous = before;
        before = CountHandles();
        return before && previous && *before == *previous;
      },
      5000);
  ASSERT_TRUE(before.has_value()) << "cannot count this process's handles";

  batch();
  std::optional<DWORD> after;
  PumpUntil(
      [&] {
        after = CountHandles();
        return after && *after <= *before;
      },
      10000);
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(*after, *before);
}

// ---- the receive event ----

using SerialPortReceiveTest = SerialPortTest;

TEST_F(SerialPortReceiveTest, EventWaitsUntilThresholdBytesWait) {
  port_.SetRThreshold(kThreshold);
  Open();
  const Bytes head = Pattern(kThreshold - 2, 3);
  const Bytes tail = Pattern(2, 4);
  ASSERT_TRUE(driver_.Send(head));
  PumpFor(kSettleMs);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(port_.InBufferCount(), kThreshold - 2);

  ASSERT_TRUE(driver_.Send(tail));
  ASSERT_TRUE(WaitForWaiting(kThreshold));
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].event, corva::protocol::kCommEventReceive);
  EXPECT_EQ(port_.CommEvent(), corva::protocol::kCommEventReceive);

  Bytes expected = head;
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(port_.Input(), expected);
  EXPECT_EQ(port_.InBufferCount(), 0);
  EXPECT_TRUE(port_.Input().empty());
}

class SerialPortBlockTest : public SerialPortTest,
                            public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SerialPortBlockTest, BlockArrivesWholeAndInputTakesAll) {
  const std::size_t size = GetParam();
  port_.SetRThreshold(kThreshold);
  Open();
  const Bytes block = Pattern(size, static_cast<std::uint8_t>(size));
  ASSERT_TRUE(driver_.Send(block));
  ASSERT_TRUE(WaitForWaiting(static_cast<int>(size))) << "events: " << events_.size();
  for (const CommRecord& record : events_) {
    EXPECT_EQ(record.event, corva::protocol::kCommEventReceive);
    EXPECT_GE(record.in_count, kThreshold);
  }
  EXPECT_EQ(port_.Input(), block);
  EXPECT_EQ(port_.InBufferCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SerialPortBlockTest, ::testing::Values(5u, 9u, 10u, 23u));

TEST_F(SerialPortReceiveTest, EventRepeatsOnEveryArrivalUntilInputDrains) {
  port_.SetRThreshold(kThreshold);
  Open();
  ASSERT_TRUE(driver_.Send(Pattern(kThreshold, 5)));
  ASSERT_TRUE(WaitForWaiting(kThreshold));
  ASSERT_TRUE(driver_.Send(Bytes{0x99}));  // still at or above the threshold: again
  ASSERT_TRUE(WaitForWaiting(kThreshold + 1));
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(port_.Input().size(), static_cast<std::size_t>(kThreshold + 1));

  ASSERT_TRUE(driver_.Send(Pattern(kThreshold - 1, 6)));  // below it once drained: no event
  PumpFor(kSettleMs);
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(port_.InBufferCount(), kThreshold - 1);
}

TEST_F(SerialPortReceiveTest, ZeroThresholdRaisesNoEvent) {
  port_.SetRThreshold(0);
  Open();
  const Bytes block = Pattern(10, 7);
  ASSERT_TRUE(driver_.Send(block));
  PumpFor(kSettleMs);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(port_.Input(), block);
}

TEST_F(SerialPortReceiveTest, InputLenLimitsEachInput) {
  port_.SetRThreshold(10);
  port_.SetInputLen(4);
  Open();
  const Bytes block = Pattern(10, 8);
  ASSERT_TRUE(driver_.Send(block));
  ASSERT_TRUE(WaitForWaiting(10));
  EXPECT_EQ(port_.Input(), Bytes(block.begin(), block.begin() + 4));
  EXPECT_EQ(port_.InBufferCount(), 6);
  EXPECT_EQ(port_.Input(), Bytes(block.begin() + 4, block.begin() + 8));
  EXPECT_EQ(port_.Input(), Bytes(block.begin() + 8, block.end()));
  EXPECT_EQ(port_.InBufferCount(), 0);
}

TEST_F(SerialPortReceiveTest, EveryByteValueArrivesUnchanged) {
  port_.SetRThreshold(1);
  Open();
  const Bytes all = AllByteValues();
  ASSERT_TRUE(driver_.Send(all));
  ASSERT_TRUE(WaitForWaiting(static_cast<int>(all.size())));
  EXPECT_EQ(port_.Input(), all);
}

TEST_F(SerialPortReceiveTest, FloodOfArrivalsQueuesOneNotice) {
  port_.SetRThreshold(1);
  Open();
  Bytes sent;
  for (std::uint8_t i = 0; i < 20; ++i) {  // twenty separate writes, so many separate reads
    const Bytes block = Pattern(100, i);
    ASSERT_TRUE(driver_.Send(block));
    sent.insert(sent.end(), block.begin(), block.end());
  }
  ASSERT_TRUE(WaitForQueuedMessage(port_.Window(), kWaitMs));
  ::Sleep(kSettleMs);  // deliberately not pumping: every arrival after the first finds a notice
                       // already queued
  EXPECT_EQ(port_.InBufferCount(), static_cast<int>(sent.size()));
  std::vector<MSG> queued;
  MSG msg;
  while (::PeekMessageW(&msg, port_.Window(), 0, 0, PM_REMOVE)) queued.push_back(msg);
  EXPECT_EQ(queued.size(), 1u);
  for (const MSG& m : queued) ::DispatchMessageW(&m);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].in_count, static_cast<int>(sent.size()));
  EXPECT_EQ(port_.Input(), sent);
}

TEST_F(SerialPortReceiveTest, EventRunsOnTheThreadThatCreatedThePort) {
  const Bytes block = Pattern(kThreshold, 9);
  DWORD ui_thread = 0;
  DWORD handler_thread = 0;
  bool opened = false;
  Bytes received;
  corva::win::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(ready);

  std::thread ui([&] {
    ui_thread = ::GetCurrentThreadId();
    WinSerialPort port;
    port.SetCommPort(g_config.com);
    port.SetRThreshold(kThreshold);
    port.SetOnComm([&] {
      handler_thread = ::GetCurrentThreadId();
      received = port.Input();
    });
    opened = port.SetPortOpen(true);
    ::SetEvent(ready.get());
    if (opened) PumpUntil([&] { return handler_thread != 0; }, kWaitMs);
  });
  const bool signalled = ::WaitForSingleObject(ready.get(), kWaitMs) == WAIT_OBJECT_0;
  const bool sent = signalled && opened && driver_.Drain() && driver_.Send(block);
  ui.join();

  ASSERT_TRUE(opened);
  ASSERT_TRUE(sent);
  EXPECT_NE(ui_thread, ::GetCurrentThreadId());
  EXPECT_EQ(handler_thread, ui_thread);
  EXPECT_EQ(received, block);
}

TEST_F(SerialPortReceiveTest, NoticeQueuedBeforeCloseRaisesNothing) {
  port_.SetRThreshold(kThreshold);
  Open();
  ASSERT_TRUE(driver_.Send(Pattern(kThreshold, 10)));
  ASSERT_TRUE(WaitForQueuedMessage(port_.Window(), kWaitMs));
  port_.SetPortOpen(false);
  PumpFor(kSettleMs);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(port_.InBufferCount(), 0);
}

TEST_F(SerialPortReceiveTest, HandlerMayCloseThePort) {
  port_.SetRThreshold(kThreshold);
  Open();
  port_.SetOnComm([this] {
    events_.push_back({port_.CommEvent(), port_.InBufferCount(), 0, ::GetCurrentThreadId()});
    port_.SetPortOpen(false);
  });
  ASSERT_TRUE(driver_.Send(Pattern(kThreshold, 11)));
  ASSERT_TRUE(PumpUntil([&] { return !events_.empty(); }, kWaitMs));
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_FALSE(port_.Output(Bytes{1}));
  EXPECT_TRUE(port_.SetPortOpen(true)) << "error " << port_.LastError();
}

// ---- output and the send event ----

using SerialPortOutputTest = SerialPortTest;

TEST_F(SerialPortOutputTest, BytesReachTheDeviceExactlyAndInOrder) {
  Open();
  const Bytes all = AllByteValues();
  ASSERT_TRUE(port_.Output(all));
  EXPECT_EQ(driver_.Read(all.size(), kWaitMs), all);

  const Bytes first = {corva::protocol::kCmdTurnOff};
  const Bytes second = {0x05, corva::protocol::kCmdAlarmOff, corva::protocol::kCmdSelfTest};
  ASSERT_TRUE(port_.Output(first));
  ASSERT_TRUE(port_.Output(second));
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(driver_.Read(expected.size(), kWaitMs), expected);
  EXPECT_TRUE(driver_.Quiet(kSettleMs).empty());  // and nothing more
  EXPECT_EQ(port_.OutBufferCount(), 0);
}

TEST_F(SerialPortOutputTest, OutputRightBeforeCloseStillGoesOut) {
  // The turn-off command is written and the port closed straight away.
  Open();
  const Bytes command = {corva::protocol::kCmdTurnOff, 0x03};
  ASSERT_TRUE(port_.Output(command));
  port_.SetPortOpen(false);
  EXPECT_EQ(driver_.Read(command.size(), kWaitMs), command);
}

TEST_F(SerialPortOutputTest, CloseReturnsWhileAWriteIsStuck) {
  // Far more than the pty holds while nobody reads the other end: the write cannot finish,
  // and closing must give up on it rather than wait.
  Open();
  const Bytes flood(256 * 1024, 0x5A);
  ASSERT_TRUE(port_.Output(flood));
  PumpFor(50);
  EXPECT_GT(port_.OutBufferCount(), 0);
  port_.SetPortOpen(false);
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_EQ(port_.OutBufferCount(), 0);
  ASSERT_TRUE(driver_.Drain());
  Open();  // the device is free again
  ASSERT_TRUE(port_.Output(Bytes{0x42}));
  EXPECT_EQ(driver_.Read(1, kWaitMs), Bytes{0x42});
}

TEST_F(SerialPortOutputTest, SendEventFollowsOutputOnceTheQueueDrainsBelowThreshold) {
  port_.SetSThreshold(corva::protocol::kSerialSThreshold);
  Open();
  const Bytes command = {corva::protocol::kCmdAlarmOn, 0x11, 0x13};
  ASSERT_TRUE(port_.Output(command));
  ASSERT_TRUE(PumpUntil([&] { return !events_.empty(); }, kWaitMs));
  EXPECT_EQ(events_[0].event, corva::protocol::kCommEventSend);
  EXPECT_LT(events_[0].out_count, corva::protocol::kSerialSThreshold);
  EXPECT_EQ(driver_.Read(command.size(), kWaitMs), command);
  PumpFor(kSettleMs);
  EXPECT_EQ(events_.size(), 1u);  // one Output, one event
}

TEST_F(SerialPortOutputTest, ZeroSThresholdRaisesNoSendEvent) {
  port_.SetSThreshold(0);
  Open();
  const Bytes command = {corva::protocol::kCmdSelfTest};
  ASSERT_TRUE(port_.Output(command));
  EXPECT_EQ(driver_.Read(command.size(), kWaitMs), command);
  PumpFor(kSettleMs);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(port_.OutBufferCount(), 0);
}

TEST_F(SerialPortOutputTest, ClosedPortRefusesOutput) {
  EXPECT_FALSE(port_.Output(Bytes{corva::protocol::kCmdAlarmOn}));
  EXPECT_EQ(port_.OutBufferCount(), 0);
  Open();
  port_.SetPortOpen(false);
  EXPECT_FALSE(port_.Output(Bytes{corva::protocol::kCmdAlarmOn}));
  EXPECT_TRUE(driver_.Quiet(kSettleMs).empty());
}

bool ReadOption(std::string_view arg, std::string_view name, std::string& value) {
  if (arg.rfind(name, 0) != 0) return false;
  value = std::string(arg.substr(name.size()));
  return true;
}

bool Configure(int argc, char** argv) {
  std::string com, driver, null_com, missing_com;
  const auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  com = env("CORVA_SERIAL_COM");
  driver = env("CORVA_SERIAL_DRIVER");
  null_com = env("CORVA_SERIAL_NULL_COM");
  missing_com = env("CORVA_SERIAL_MISSING_COM");
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!ReadOption(arg, "--com=", com) && !ReadOption(arg, "--driver=", driver) &&
        !ReadOption(arg, "--null-com=", null_com) &&
        !ReadOption(arg, "--missing-com=", missing_com)) {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return false;
    }
  }
  g_config.com = std::atoi(com.c_str());
  g_config.null_com = std::atoi(null_com.c_str());
  g_config.missing_com = std::atoi(missing_com.c_str());
  const std::size_t colon = driver.rfind(':');
  if (colon != std::string::npos) {
    g_config.driver_host = driver.substr(0, colon);
    g_config.driver_port = std::atoi(driver.c_str() + colon + 1);
  }
  return g_config.com > 0 && g_config.null_com > 0 && g_config.missing_com > 0 &&
         g_config.driver_port > 0;
}

struct WinsockSession {
  WinsockSession() { ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0; }
  ~WinsockSession() {
    if (ok) ::WSACleanup();
  }
  WSADATA data{};
  bool ok = false;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!Configure(argc, argv)) {
    std::fprintf(stderr,
                 "usage: %s --com=N --driver=HOST:PORT --null-com=N --missing-com=N\n"
                 "(run through tests/win/run_serial_tests.sh, which sets these up)\n",
                 argv[0]);
    return 2;
  }
  const WinsockSession winsock;
  if (!winsock.ok) {
    std::fprintf(stderr, "WSAStartup failed\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
