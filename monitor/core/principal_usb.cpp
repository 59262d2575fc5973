// The USB link of the main window: frame assembly, disconnection and reconnection.
//
// The UPS sends its status frames in input reports: [report id][n][n frame bytes]. A frame may
// come whole in one report or split over several; TimerUSB reads what has come every second,
// and TimerBuscaUSB looks for the device every 5 s once it is lost.

#include <algorithm>
#include <span>

#include "principal.h"
#include "protocol.h"

namespace corva {
namespace {

// Texts of the USB link.
constexpr char kBalloonUsbLost[] = " Equipo BRAX Desconectado ";
constexpr char kBalloonUsbBack[] = " Equipo BRAX Conectado nuevamente ";

// What one TimerUSB tick may read and wait: the first read waits up to 50 ms for the device; a
// read for the rest of a frame already started up to 10 ms; any other read takes only what has
// already come. All of a tick's waits together stay within 60 ms, and it takes at most 8
// reports, so the window keeps answering whatever the device does.
constexpr int kFirstReadWaitMs = 50;
constexpr int kRestOfFrameWaitMs = 10;
constexpr int kTickWaitMs = 60;
constexpr int kMaxReportsPerTick = 8;

// Holds a flag set for as long as a scope runs, however the scope is left.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

bool IsHeaderByte(std::uint8_t b) {
  return b == protocol::kAmpHeaderByte || b == protocol::kUsbHeaderByte;
}

// Whether the header bytes at buffer[1..] that are there so far (up to three) agree: all 0x26
// or all 0xFF. `count` is how many frame bytes are in.
bool HeaderSoFarValid(const std::vector<std::uint8_t>& buffer, std::size_t count) {
  const std::size_t n = std::min<std::size_t>(count, protocol::kHeaderLength);
  if (n == 0) return true;
  if (!IsHeaderByte(buffer[1])) return false;
  for (std::size_t i = 2; i <= n; ++i) {
    if (buffer[i] != buffer[1]) return false;
  }
  return true;
}

// Whether a report's data can start a frame: its header bytes, as far as it carries them.
bool StartsFrame(std::span<const std::uint8_t> data) {
  const std::size_t n = std::min<std::size_t>(data.size(), protocol::kHeaderLength);
  if (n == 0 || !IsHeaderByte(data[0])) return false;
  for (std::size_t i = 1; i < n; ++i) {
    if (data[i] != data[0]) return false;
  }
  return true;
}

}  // namespace

void Principal::BeginUsbReads() {
  usb_reads_left_ = kMaxReportsPerTick;
  usb_wait_left_ms_ = kTickWaitMs;
  usb_first_read_ = true;
}

int Principal::NextUsbReadWaitMs() {
  const int wanted = usb_first_read_ ? kFirstReadWaitMs : FramePos > 1 ? kRestOfFrameWaitMs : 0;
  usb_first_read_ = false;
  const int wait = std::clamp(wanted, 0, usb_wait_left_ms_);
  usb_wait_left_ms_ -= wait;
  return wait;
}

bool Principal::AssembleUsbFrame() {
  // Called on its own, the call gets a tick's allowance; within TimerUSB it shares the tick's.
  if (!usb_tick_running_) BeginUsbReads();

  const int length = Settings.FrameLength;
  // Without a frame length the monitor can read (DataString) the reports are still taken, so
  // the device's queue does not fill and a lost device is still noticed, but nothing is built.
  const bool assemble = FrameLengthUsable() &&
                        FrameBuffer.size() >= static_cast<std::size_t>(length) + 1;
  usb_report_.assign(static_cast<std::size_t>(std::max(length, 0)) + 2, 0);

  while (usb_reads_left_ > 0) {
    --usb_reads_left_;
    const UsbRead read = ports_.usb.ReadUsbReport(usb_report_, NextUsbReadWaitMs());
    if (read.status == UsbRead::Status::Lost) {
      usb_lost_ = true;
      usb_reads_left_ = 0;
      return false;
    }
    if (read.status == UsbRead::Status::Nothing) {
      usb_reads_left_ = 0;  // nothing more has come; the rest waits for the next tick
      return false;
    }
    if (!assemble || read.size < 2) continue;

    // A position outside the frame (never left by this reader) starts over.
    if (FramePos < 1 || FramePos > length) FramePos = 1;
    const auto pos = static_cast<std::size_t>(FramePos);
    // A count byte larger than what the report carries, or than the room left in FrameBuffer,
    // would copy bytes that are not there or past the buffer: such a report is not taken.
    const std::size_t n = usb_report_[1];
    if (n == 0 || n > read.size - 2 || pos + n > FrameBuffer.size()) continue;
    const std::span<const std::uint8_t> data(usb_report_.data() + 2, n);

    // Between frames only a report that starts one is taken.
    if (pos == 1 && !IsHeaderByte(data[0])) continue;

    std::copy(data.begin(), data.end(), FrameBuffer.begin() + static_cast<std::ptrdiff_t>(pos));
    FramePos = static_cast<std::int16_t>(pos + n);

    if (!HeaderSoFarValid(FrameBuffer, pos + n - 1)) {
      // Out of step: start again from this report, if it can start a frame.
      std::fill(FrameBuffer.begin() + 1, FrameBuffer.begin() + 1 + length, std::uint8_t{0});
      FramePos = 1;
      if (!StartsFrame(data)) continue;
      std::copy(data.begin(), data.end(), FrameBuffer.begin() + 1);
      FramePos = static_cast<std::int16_t>(1 + n);
    }

    // Complete once all FrameLength bytes are in: FrameBuffer[1..FrameLength].
    if (FramePos >= length + 1) {
      FramePos = 1;
      return true;
    }
  }
  return false;
}

void Principal::TimerUSB_Timer() {
  if (usb_tick_running_) return;  // a tick started from inside this one's DoEvents
  {
    const FlagScope running(usb_tick_running_);
    BeginUsbReads();
    // Every frame that has come is shown, so frames never queue up behind the ticks.
    while (AssembleUsbFrame()) ProcessStatusFrame();
  }
  if (usb_lost_) {
    usb_lost_ = false;
    HandleUsbDisconnect();
  }
}

void Principal::HandleUsbDisconnect() {
  // The lost device's handle goes now; the search opens a fresh one.
  ports_.usb.Close();
  FramePos = 1;
  UsbDisconnected = true;
  ports_.view.EnableTimer(Timer::TimerUSB, false);
  ports_.view.EnableTimer(Timer::TimerBuscaUSB, true);
  if (!ports_.view.TimerEnabled(Timer::Timerdesconexion)) {
    ports_.view.EnableTimer(Timer::Timerdesconexion, true);
  }
  if (!OnBattery) {
    ports_.tray.ModifyTrayIcon(kTrayNoUsb, text::kTrayMainTip);
    if (Settings.NotifAviso == 1) {
      ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, kBalloonUsbLost);
    }
  }
  ports_.view.BringWindowToFront();
}

void Principal::ReconnectUsb() {
  if (usb_search_running_) return;
  const FlagScope running(usb_search_running_);
  if (ports_.usb.FindUsbDevice(text::kProductString)) {
    UsbDisconnected = false;
    FramePos = 1;
    ports_.view.DoEvents();
    UsbOpen = true;
    ports_.view.EnableTimer(Timer::TimerUSB, true);
    ports_.view.EnableTimer(Timer::TimerBuscaUSB, false);
    ports_.tray.ModifyTrayIcon(kTrayMainIcon, text::kTrayMainTip);
    if (Settings.NotifAviso == 1) {
      ports_.tray.ShowTrayBalloon(text::kBalloonInfo, text::kBalloonTitle, kBalloonUsbBack);
    }
    ports_.view.EnableTimer(Timer::Timerdesconexion, false);
    DisconnectSeconds = Settings.ApagaDesconexionSegundos;
    ports_.view.SetVisible(Control::lblmsg, false);
  }
}

void Principal::TimerBuscaUSB_Timer() { ReconnectUsb(); }

}  // namespace corva
