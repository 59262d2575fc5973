// The USB device's Windows side under Wine: the real device search (Wine has no HID device
// with our product string, so it must come back empty, quietly and having given back what it
// took), and the overlapped reads and writes of WinHidDevice against a message-mode named pipe
// standing in for the device: one pipe message per report, as HID reads and writes go.

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../fakes/fakes.h"
#include "access_io_device.h"
#include "hid_device.h"
#include "principal_window.h"
#include "usb_link.h"

namespace corva::win {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The handles this process holds, from the system's handle table (GetProcessHandleCount answers
// 0 under Wine); -1 when the table cannot be read.
int LiveHandles() {
  struct Entry {
    ULONG process_id;
    BYTE type, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  std::vector<std::uint8_t> buffer(1 << 20);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = ::NtQuerySystemInformation(
        static_cast<SYSTEM_INFORMATION_CLASS>(16 /* SystemHandleInformation */), buffer.data(),
        static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      ULONG count = 0;
      std::memcpy(&count, buffer.data(), sizeof(count));
      const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
      int mine = 0;
      for (ULONG i = 0; i < count; ++i) {
        if (entries[i].process_id == ::GetCurrentProcessId()) ++mine;
      }
      return mine;
    }
    buffer.resize(buffer.size() * 4);
  }
  return -1;
}

// ---- the device search, watched

struct SearchWatch {
  static inline int lists_made = 0;
  static inline int lists_given_back = 0;
  static inline HDEVINFO last_made = nullptr;
  static inline HDEVINFO last_given_back = nullptr;
  static inline std::vector<std::string> errors;
  static inline bool refuse = false;

  static void Reset() {
    lists_made = lists_given_back = 0;
    last_made = last_given_back = nullptr;
    errors.clear();
    refuse = false;
  }
  static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
    if (refuse) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    HDEVINFO set = ::SetupDiGetClassDevsA(guid, enumerator, parent, flags);
    if (set != INVALID_HANDLE_VALUE) {
      ++lists_made;
      last_made = set;
    }
    return set;
  }
  static BOOL WINAPI Destroy(HDEVINFO set) {
    ++lists_given_back;
    last_given_back = set;
    return ::SetupDiDestroyDeviceInfoList(set);
  }
  static void Report(std::string_view message) { errors.emplace_back(message); }
  static DeviceSearchApi Api() { return {&GetClassDevs, &Destroy, &Report}; }
};

class UsbDeviceSearch : public ::testing::Test {
 protected:
  void SetUp() override { SearchWatch::Reset(); }
};

TEST_F(UsbDeviceSearch, UnderWineNoDeviceIsFoundAndTheListIsGivenBack) {
  const DeviceSearchApi api = SearchWatch::Api();
  unique_file device = FindUsbDevice("Corvamon", api);
  EXPECT_FALSE(device);
  EXPECT_EQ(SearchWatch::lists_made, 1);
  EXPECT_EQ(SearchWatch::lists_given_back, 1);
  EXPECT_EQ(SearchWatch::last_given_back, SearchWatch::last_made);
  EXPECT_TRUE(SearchWatch::errors.empty());
}

TEST_F(UsbDeviceSearch, SearchingAgainAndAgainKeepsNothing) {
  const DeviceSearchApi api = SearchWatch::Api();
  EXPECT_FALSE(FindUsbDevice("Corvamon", api));  // whatever the first search sets up for good
  const int before = LiveHandles();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(FindUsbDevice("Corvamon", api));
  EXPECT_EQ(LiveHandles(), before);
  EXPECT_EQ(SearchWatch::lists_made, 51);
  EXPECT_EQ(SearchWatch::lists_given_back, 51);
  EXPECT_TRUE(SearchWatch::errors.empty());
}

// A box would stop the searching thread; this watcher closes any box of this process that shows
// up and counts it.
struct BoxWatch {
  std::atomic<bool> done{false};
  std::atomic<int> boxes{0};
};

BOOL CALLBACK CloseIfBox(HWND hwnd, LPARAM lp) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[16] = {};
  ::GetClassNameW(hwnd, cls, 16);
  if (pid == ::GetCurrentProcessId() && std::wstring(cls) == L"#32770") {
    reinterpret_cast<BoxWatch*>(lp)->boxes.fetch_add(1);
    ::PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

DWORD WINAPI WatchForBoxes(void* arg) {
  auto* watch = static_cast<BoxWatch*>(arg);
  while (!watch->done.load()) {
    ::EnumWindows(&CloseIfBox, reinterpret_cast<LPARAM>(watch));
    ::Sleep(20);
  }
  return 0;
}

TEST_F(UsbDeviceSearch, WithTheSystemsOwnCallsThereIsNoMessageBox) {
  BoxWatch watch;
  unique_handle watcher(::CreateThread(nullptr, 0, &WatchForBoxes, &watch, 0, nullptr));
  ASSERT_TRUE(watcher);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(FindUsbDevice("Corvamon"));
  ::Sleep(100);
  watch.done = true;
  ::WaitForSingleObject(watcher.get(), 5000);
  EXPECT_EQ(watch.boxes.load(), 0);
}

TEST_F(UsbDeviceSearch, AListTheSystemWillNotGiveIsReportedAndNothingIsGivenBack) {
  SearchWatch::refuse = true;
  EXPECT_FALSE(FindUsbDevice("Corvamon", SearchWatch::Api()));
  EXPECT_EQ(SearchWatch::errors, std::vector<std::string>{"Could not attach to PnP node"});
  EXPECT_EQ(SearchWatch::lists_given_back, 0);
}

TEST_F(UsbDeviceSearch, TheMonitorsLinkFindsNothingAndSendsNothing) {
  // The real chain Corvamon has, with the device errors kept instead of shown.
  WinHidDevice device([](std::string_view product) {
    return FindUsbDevice(product, SearchWatch::Api());
  });
  fakes::FakeDeviceErrors errors;
  HidUsbLink link(device, errors, SystemClock());
  EXPECT_FALSE(link.FindUsbDevice("Corvamon"));
  EXPECT_FALSE(device.IsOpen());
  EXPECT_FALSE(link.WriteUsbReport(Bytes{1, 'A', 0, 0, 0, 0, 0, 0}));
  Bytes buffer(12);
  EXPECT_EQ(link.ReadUsbReport(buffer, 50).status, UsbRead::Status::Lost);
  EXPECT_TRUE(errors.messages.empty());
  EXPECT_FALSE(link.WriteUsbReport(Bytes(255, 0)));
  EXPECT_EQ(errors.messages, std::vector<std::string>{"Maximum ByteCount for WriteUSBdevice is 254"});
  EXPECT_EQ(SearchWatch::lists_made, SearchWatch::lists_given_back);
  EXPECT_TRUE(SearchWatch::errors.empty());
}

// ---- WinHidDevice's transfers, against a pipe

class PipeDevice {
 public:
  PipeDevice() {
    static int serial = 0;
    name_ = L"\\\\.\\pipe\\corvamon-usb-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial);
    server_.reset(::CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr));
  }
  // The device's end as the search would hand it over: opened for overlapped I/O.
  unique_file Open() {
    unique_file client(::CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (client) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      ::SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr);
    }
    return client;
  }
  // The device sends one report.
  bool Send(const Bytes& report) {
    DWORD written = 0;
    return ::WriteFile(server_.get(), report.data(), static_cast<DWORD>(report.size()), &written,
                       nullptr) && written == report.size();
  }
  // What the device received, one report.
  Bytes Receive() {
    Bytes buffer(512);
    DWORD got = 0;
    if (!::ReadFile(server_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return {};
    }
    buffer.resize(got);
    return buffer;
  }
  void Unplug() { server_.reset(); }
  bool ok() const { return static_cast<bool>(server_); }

 private:
  std::wstring name_;
  unique_file server_;
};

class WinHidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pipe_.ok());
    ASSERT_TRUE(device_.Open("Corvamon"));
  }
  UsbRead Read(int wait_ms = 50) { return device_.Read(buffer_, wait_ms); }

  PipeDevice pipe_;
  std::vector<std::string> asked_;
  WinHidDevice device_{[this](std::string_view product) {
    asked_.emplace_back(product);
    return pipe_.Open();
  }};
  Bytes buffer_ = Bytes(12, 0xEE);
};

TEST_F(WinHidDeviceTest, AReadWithNothingToReadEndsAfterItsWait) {
  EXPECT_EQ(asked_, std::vector<std::string>{"Corvamon"});
  EXPECT_EQ(device_.InputReportLength(), 0u);  // a pipe has no HID capabilities
  EXPECT_EQ(Read(50).status, UsbRead::Status::Nothing);
  EXPECT_EQ(Read(0).status, UsbRead::Status::Nothing);
  EXPECT_EQ(buffer_, Bytes(12, 0xEE));  // the cancelled reads left the caller's buffer alone
}

TEST_F(WinHidDeviceTest, AReportIsReadWholeAndAfterACancelledReadNothingIsLost) {
  ASSERT_EQ(Read(20).status, UsbRead::Status::Nothing);
  const Bytes report{0, 10, 0x26, 0x26, 0x26, 56, 120, 200, 65, 92, '0', '0'};
  ASSERT_TRUE(pipe_.Send(report));
  const UsbRead read = Read(1000);
  ASSERT_EQ(read.status, UsbRead::Status::Report);
  EXPECT_EQ(read.size, report.size());
  EXPECT_EQ(buffer_, report);

  // Two reports waiting: two reads, one report each.
  ASSERT_TRUE(pipe_.Send({0, 7, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(pipe_.Send({0, 3, 8, 9, 10}));
  ASSERT_EQ(Read(1000).size, 9u);
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 9), (Bytes{0, 7, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_EQ(Read(1000).size, 5u);
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 5), (Bytes{0, 3, 8, 9, 10}));
}

TEST_F(WinHidDeviceTest, AWriteSendsExactlyTheReport) {
  const Bytes report{0, 1, 'A', 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(device_.Write(report));
  EXPECT_EQ(pipe_.Receive(), report);
}

TEST_F(WinHidDeviceTest, AnUnpluggedDeviceIsLostAndThenClosed) {
  EXPECT_EQ(Read(20).status, UsbRead::Status::Nothing);
  EXPECT_EQ(device_.LastFailure().code, 0u) << "a read with nothing to read is no failure";
  pipe_.Unplug();
  EXPECT_EQ(Read(50).status, UsbRead::Status::Lost);
  // The system's own error code is kept with the call that gave it.
  const HidDevice::Failure read_failure = device_.LastFailure();
  EXPECT_TRUE(read_failure.operation == "ReadFile" ||
              read_failure.operation == "GetOverlappedResult") << read_failure.operation;
  EXPECT_NE(read_failure.code, 0u);
  EXPECT_NE(read_failure.code, static_cast<std::uint32_t>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(device_.Write(Bytes{0, 1, 'A', 0, 0, 0, 0, 0, 0}));
  EXPECT_NE(device_.LastFailure().code, 0u);
  device_.Close();
  EXPECT_FALSE(device_.IsOpen());
  EXPECT_EQ(Read(50).status, UsbRead::Status::Lost);
}

TEST(WinHidDeviceLink, TheLinkOverThePipeWritesNineBytesAndReadsTheUpsReports) {
  PipeDevice pipe;
  ASSERT_TRUE(pipe.ok());
  WinHidDevice device([&pipe](std::string_view) { return pipe.Open(); });
  fakes::FakeDeviceErrors errors;
  HidUsbLink link(device, errors, SystemClock());
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  ASSERT_TRUE(link.WriteUsbReport(Bytes{1, '~', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pipe.Receive(), (Bytes{0, 1, '~', 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(pipe.Send({0, 3, 0xFF, 0xFF, 0xFF}));
  Bytes buffer(12);
  const UsbRead read = link.ReadUsbReport(buffer, 1000);
  ASSERT_EQ(read.status, UsbRead::Status::Report);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0, 3, 0xFF, 0xFF, 0xFF}));
  pipe.Unplug();
  EXPECT_EQ(link.ReadUsbReport(buffer, 50).status, UsbRead::Status::Lost);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(device.IsOpen());
  EXPECT_TRUE(errors.messages.empty());
}

// ---- the real HID path, against the HID mouse and keyboard every Wine prefix has

constexpr char kWineMouse[] = "Wine HID mouse";
constexpr char kWineKeyboard[] = "Wine HID keyboard";

class RealHidDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    SearchWatch::Reset();
    if (!FindUsbDevice(kWineMouse, SearchWatch::Api())) {
      GTEST_SKIP() << "this Wine lists no \"" << kWineMouse << "\"";
    }
  }
};

TEST_F(RealHidDevice, TheSearchOpensTheDeviceWithExactlyThatProductString) {
  const DeviceSearchApi api = SearchWatch::Api();
  const int before = LiveHandles();
  {
    // The keyboard comes after the mouse: the mouse is opened, found wrong and closed.
    unique_file keyboard = FindUsbDevice(kWineKeyboard, api);
    EXPECT_TRUE(keyboard);
    EXPECT_EQ(LiveHandles(), before + 1);
  }
  EXPECT_EQ(LiveHandles(), before);
  for (const char* wrong : {"wine hid keyboard", "WINE HID MOUSE", "Wine HID", "Wine HID mouse ",
                            " Wine HID mouse", "Corvamon"}) {
    EXPECT_FALSE(FindUsbDevice(wrong, api)) << wrong;
  }
  EXPECT_EQ(LiveHandles(), before);
  EXPECT_EQ(SearchWatch::lists_made, SearchWatch::lists_given_back);
  EXPECT_TRUE(SearchWatch::errors.empty());
}

TEST_F(RealHidDevice, ReadsEndAfterTheirWaitAndWritesThatCannotGoAreRefused) {
  WinHidDevice device([](std::string_view product) {
    return FindUsbDevice(product, SearchWatch::Api());
  });
  ASSERT_TRUE(device.Open(kWineMouse));
  EXPECT_GE(device.InputReportLength(), 2u);  // report id and at least one byte
  const int open_handles = LiveHandles();
  Bytes buffer(12, 0xEE);
  for (int i = 0; i < 5; ++i) {
    // Nobody moves the mouse: each read is cancelled after its wait, and its end waited for.
    EXPECT_EQ(device.Read(buffer, 30).status, UsbRead::Status::Nothing);
  }
  EXPECT_EQ(buffer, Bytes(12, 0xEE));
  EXPECT_EQ(LiveHandles(), open_handles);
  // The mouse has no output report.
  EXPECT_FALSE(device.Write(Bytes{0, 1, 'A', 0, 0, 0, 0, 0, 0}));
  device.Close();
  EXPECT_FALSE(device.IsOpen());
  EXPECT_LT(LiveHandles(), open_handles);
}

// Asks a window for an answer every 100 ms and counts the times it gave none within 2 s.
struct Pinger {
  HWND hwnd;
  std::atomic<bool> stop{false};
  std::atomic<int> asked{0}, unanswered{0};
};

DWORD WINAPI PingWindow(void* arg) {
  auto* p = static_cast<Pinger*>(arg);
  while (!p->stop.load()) {
    DWORD_PTR result = 0;
    ++p->asked;
    if (!::SendMessageTimeoutW(p->hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result)) ++p->unanswered;
    ::Sleep(100);
  }
  return 0;
}

// The whole monitor on a real HID device that never sends a frame: Corvamon's window with its
// real timers and the real link, the search taking Wine's HID mouse for the UPS. After ten
// silent seconds the device is taken for lost; the search every 5 s finds it again.
TEST_F(RealHidDevice, TheMonitorTakesASilentDeviceForLostAndFindsItAgain) {
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  wchar_t folder[MAX_PATH] = {};
  ::GetTempFileNameW(base, L"cvu", 0, folder);
  ::DeleteFileW(folder);
  ::CreateDirectoryW(folder, nullptr);
  const std::wstring ini = std::wstring(folder) + L"\\Corvamon.ini";
  {
    std::ofstream out(ini.c_str(), std::ios::binary);
    out << "[Inicio]\r\nDataString=&&&10\r\n[Prefs]\r\nNotifAviso=1\r\nMostrarMute=1\r\n"
           "AlarmaConSonido=1\r\n";
  }

  std::vector<std::string> searched;
  WinHidDevice device([&searched](std::string_view product) {
    searched.emplace_back(product);
    return FindUsbDevice(product == "Corvamon" ? kWineMouse : product, SearchWatch::Api());
  });
  fakes::FakeDeviceErrors errors;
  HidUsbLink link(device, errors, SystemClock());
  fakes::FakeSerialPort MSComm1, MSComm2;
  fakes::FakeTray tray;
  fakes::FakeLogFile log;
  fakes::FakePlatform platform;
  fakes::FakeShutdown shutdown;
  fakes::FakeOffice office;
  auto window = PrincipalWindow::Create(
      ::GetModuleHandleW(nullptr),
      {link, &tray, MSComm1, MSComm2, log, platform, shutdown, office}, folder);
  ASSERT_TRUE(window);
  Principal& core = window->core();
  ASSERT_TRUE(core.UsbMode());
  ASSERT_TRUE(core.UsbOpen());
  EXPECT_FALSE(MSComm1.open);
  EXPECT_TRUE(window->TimerEnabled(Timer::TimerUSB));

  // Another thread keeps asking the window for an answer the whole time.
  Pinger pinger{window->hwnd()};
  unique_handle pinging(::CreateThread(nullptr, 0, &PingWindow, &pinger, 0, nullptr));
  ASSERT_TRUE(pinging);

  const auto run_until = [&](const std::function<bool()>& done, ULONGLONG limit_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
    while (!done() && ::GetTickCount64() < deadline) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      window->DoEvents();
    }
    return done();
  };
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_TRUE(run_until([&] { return core.UsbDisconnected(); }, 30000));
  const ULONGLONG lost_after = ::GetTickCount64() - start;
  EXPECT_GE(lost_after, 9000u);  // ten silent seconds, not fewer
  EXPECT_FALSE(device.IsOpen());  // the lost device's handle is gone at once
  EXPECT_FALSE(window->TimerEnabled(Timer::TimerUSB));
  EXPECT_TRUE(window->TimerEnabled(Timer::TimerBuscaUSB));
  EXPECT_EQ(tray.balloons, std::vector<std::string>{"1|Corvamon| Equipo BRAX Desconectado "});

  EXPECT_TRUE(run_until([&] { return !core.UsbDisconnected(); }, 15000));
  EXPECT_TRUE(device.IsOpen());
  EXPECT_TRUE(window->TimerEnabled(Timer::TimerUSB));
  EXPECT_FALSE(window->TimerEnabled(Timer::TimerBuscaUSB));
  EXPECT_EQ(tray.balloons.back(), "1|Corvamon| Equipo BRAX Conectado nuevamente ");
  EXPECT_EQ(searched, (std::vector<std::string>{"Corvamon", "Corvamon"}));

  pinger.stop = true;
  ::WaitForSingleObject(pinging.get(), 5000);
  EXPECT_GT(pinger.asked.load(), 50);
  EXPECT_EQ(pinger.unanswered.load(), 0);
  EXPECT_TRUE(errors.messages.empty());
  EXPECT_EQ(SearchWatch::lists_made, SearchWatch::lists_given_back);

  window.reset();
  ::DeleteFileW(ini.c_str());
  ::RemoveDirectoryW(folder);
}

}  // namespace
}  // namespace corva::win
