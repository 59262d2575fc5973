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

// Whether the bytes held from `at` on agree with a frame's header as far as they go (up to
// three): all 0x26 or all 0xFF.
bool HeaderSoFar(const std::vector<std::uint8_t>& held, std::size_t at) {
  const std::size_t end = std::min(held.size(), at + protocol::kHeaderLength);
  if (at >= end || !IsHeaderByte(held[at])) return false;
  for (std::size_t i = at + 1; i < end; ++i) {
    if (held[i] != held[at]) return false;
  }
  return true;
}

// Whether a whole header (three equal header bytes) is held from `at` on.
bool WholeHeaderAt(const std::vector<std::uint8_t>& held, std::size_t at) {
  return at + protocol::kHeaderLength <= held.size() && HeaderSoFar(held, at);
}

// Keeps in `held` only bytes that can belong to one frame. `starts` are the places in `held`
// where a report began (the first is 0 while anything is held). The device starts every frame
// in a report of its own, so:
//  - the held bytes must open with a header, as far as they go;
//  - a later report that opens with a whole header, or that runs past the frame's end, is not
//    the rest of this frame: the frame was cut short, and the bytes before that report go.
// Answers whether a whole frame (`length` bytes) is held.
bool KeepOneFrame(std::vector<std::uint8_t>& held, std::vector<std::size_t>& starts,
                  std::size_t length) {
  for (;;) {
    while (!starts.empty() && !HeaderSoFar(held, starts.front())) starts.erase(starts.begin());
    if (starts.empty()) {
      held.clear();
      return false;
    }
    if (const std::size_t first = starts.front(); first > 0) {
      held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(first));
      for (std::size_t& s : starts) s -= first;
    }
    // Bytes that would end the frame but may be a new frame's header still coming ("&" or
    // "&&" in reports of their own): the frame's last byte, its mode, would be a header byte,
    // which no whole frame has there. Such a frame was cut short too.
    const bool would_complete = held.size() >= length;
    std::size_t cut = 0;
    for (std::size_t i = 1; i < starts.size() && starts[i] < length; ++i) {
      const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : held.size();
      const bool header_coming = would_complete && HeaderSoFar(held, starts[i]) &&
                                 held.size() - starts[i] < protocol::kHeaderLength;
      if (WholeHeaderAt(held, starts[i]) || end > length || header_coming) {
        cut = i;
        break;
      }
    }
    if (cut == 0) return held.size() >= length;
    starts.erase(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(cut));
  }
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
    // A count byte larger than what the report carries would copy bytes that are not there:
    // such a report is not taken.
    const std::size_t n = usb_report_[1];
    if (n == 0 || n > read.size - 2) continue;
    const std::span<const std::uint8_t> data(usb_report_.data() + 2, n);

    // Between frames only a report that starts one is taken.
    if (pos == 1 && !IsHeaderByte(data[0])) continue;

    // The frame begun so far, with this report after it.
    usb_held_.assign(FrameBuffer.begin() + 1, FrameBuffer.begin() + static_cast<std::ptrdiff_t>(pos));
    if (pos == 1) {
      usb_report_starts_.clear();
    } else if (usb_report_starts_.empty() || usb_report_starts_.front() != 0) {
      usb_report_starts_.insert(usb_report_starts_.begin(), 0);
    }
    usb_report_starts_.push_back(usb_held_.size());
    usb_held_.insert(usb_held_.end(), data.begin(), data.end());
    const bool complete =
        KeepOneFrame(usb_held_, usb_report_starts_, static_cast<std::size_t>(length));

    // FrameBuffer[1..FrameLength] holds the frame begun, zeros after it.
    const std::size_t kept = std::min(usb_held_.size(), static_cast<std::size_t>(length));
    std::fill(FrameBuffer.begin() + 1, FrameBuffer.begin() + 1 + length, std::uint8_t{0});
    std::copy_n(usb_held_.begin(), kept, FrameBuffer.begin() + 1);
    if (complete) {
      FramePos = 1;
      usb_report_starts_.clear();
      return true;
    }
    FramePos = static_cast<std::int16_t>(1 + kept);
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
  usb_report_starts_.clear();
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
    usb_report_starts_.clear();
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
