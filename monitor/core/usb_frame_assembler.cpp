#include "usb_frame_assembler.h"

#include <algorithm>
#include <span>

#include "protocol.h"
#include "status_decoder.h"

namespace corva {
namespace {

// What one TimerUSB tick may read and wait: the first read waits up to 50 ms for the device; a
// read for the rest of a frame already started up to 10 ms; any other read takes only what has
// already come. All of a tick's waits together stay within 60 ms, and it takes at most 8
// reports, so the window keeps answering whatever the device does.
constexpr int kFirstReadWaitMs = 50;
constexpr int kRestOfFrameWaitMs = 10;
constexpr int kTickWaitMs = 60;
constexpr int kMaxReportsPerTick = 8;

// The bytes a frame of `length` bytes may open with: 0x26 or 0xFF, and 0x2A for the 9-byte
// "***" frames.
bool IsHeaderByte(std::uint8_t b, std::size_t length) {
  return b == protocol::kAmpHeaderByte || b == protocol::kUsbHeaderByte ||
         (b == protocol::kStarHeaderByte && length == protocol::kStarFrameLength);
}

// Whether the bytes held from `at` on agree with a frame's header as far as they go (up to
// three): all the same header byte.
bool HeaderSoFar(const std::vector<std::uint8_t>& held, std::size_t at, std::size_t length) {
  const std::size_t end = std::min(held.size(), at + protocol::kHeaderLength);
  if (at >= end || !IsHeaderByte(held[at], length)) return false;
  for (std::size_t i = at + 1; i < end; ++i) {
    if (held[i] != held[at]) return false;
  }
  return true;
}

// Whether a whole header (three equal header bytes) is held from `at` on.
bool WholeHeaderAt(const std::vector<std::uint8_t>& held, std::size_t at, std::size_t length) {
  return at + protocol::kHeaderLength <= held.size() && HeaderSoFar(held, at, length);
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
    while (!starts.empty() && !HeaderSoFar(held, starts.front(), length))
      starts.erase(starts.begin());
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
      const bool header_coming = would_complete && HeaderSoFar(held, starts[i], length) &&
                                 held.size() - starts[i] < protocol::kHeaderLength;
      if (WholeHeaderAt(held, starts[i], length) || end > length || header_coming) {
        cut = i;
        break;
      }
    }
    if (cut == 0) return held.size() >= length;
    starts.erase(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(cut));
  }
}

}  // namespace

void UsbFrameAssembler::BeginTick() {
  reads_left_ = kMaxReportsPerTick;
  wait_left_ms_ = kTickWaitMs;
  first_read_ = true;
}

int UsbFrameAssembler::NextReadWaitMs() {
  const int wanted = first_read_ ? kFirstReadWaitMs : frame_pos_ > 1 ? kRestOfFrameWaitMs : 0;
  first_read_ = false;
  const int wait = std::clamp(wanted, 0, wait_left_ms_);
  wait_left_ms_ -= wait;
  return wait;
}

bool UsbFrameAssembler::TakeLost() {
  const bool lost = lost_;
  lost_ = false;
  return lost;
}

void UsbFrameAssembler::Restart() {
  frame_pos_ = 1;
  report_starts_.clear();
}

bool UsbFrameAssembler::Assemble(std::vector<std::uint8_t>& frame_buffer, int frame_length) {
  // Without a frame length the monitor can read (DataString) the kind is learned from the first
  // report that opens with a whole header; until then the reports are still taken, so the
  // device's queue does not fill and a lost device is still noticed, but nothing is built.
  int length = FrameLengthUsable(frame_length) ? frame_length : learned_length_;
  const auto fits = [&frame_buffer](int n) {
    return frame_buffer.size() >= static_cast<std::size_t>(n) + 1;
  };
  bool assemble = FrameLengthUsable(length) && fits(length);
  const int longest = FrameLengthUsable(length) ? length : protocol::kAmpFrameLength;
  report_.assign(static_cast<std::size_t>(longest) + 2, 0);

  while (reads_left_ > 0) {
    --reads_left_;
    const UsbRead read = usb_.ReadUsbReport(report_, NextReadWaitMs());
    if (read.status == UsbRead::Status::Lost) {
      lost_ = true;
      reads_left_ = 0;
      return false;
    }
    if (read.status == UsbRead::Status::Nothing) {
      reads_left_ = 0;  // nothing more has come; the rest waits for the next tick
      return false;
    }
    if (read.size < 2) continue;
    if (!FrameLengthUsable(length) && read.size >= 2 + std::size_t{protocol::kHeaderLength} &&
        report_[1] >= protocol::kHeaderLength && report_[1] <= read.size - 2) {
      held_.assign(report_.begin() + 2, report_.begin() + 2 + protocol::kHeaderLength);
      const int kind = FrameLengthForHeader(held_[0]);
      if (WholeHeaderAt(held_, 0, static_cast<std::size_t>(kind))) {
        learned_length_ = length = kind;
        if (!fits(length)) frame_buffer.resize(2 * static_cast<std::size_t>(length) + 1, 0);
        assemble = true;
        frame_pos_ = 1;
      }
    }
    if (!assemble) continue;

    // A position outside the frame (never left by this reader) starts over.
    if (frame_pos_ < 1 || frame_pos_ > length) frame_pos_ = 1;
    const auto pos = static_cast<std::size_t>(frame_pos_);
    // A count byte larger than what the report carries would copy bytes that are not there:
    // such a report is not taken.
    const std::size_t n = report_[1];
    if (n == 0 || n > read.size - 2) continue;
    const std::span<const std::uint8_t> data(report_.data() + 2, n);

    // Between frames only a report that starts one is taken.
    if (pos == 1 && !IsHeaderByte(data[0], static_cast<std::size_t>(length))) continue;

    // The frame begun so far, with this report after it.
    held_.assign(frame_buffer.begin() + 1, frame_buffer.begin() + static_cast<std::ptrdiff_t>(pos));
    if (pos == 1) {
      report_starts_.clear();
    } else if (report_starts_.empty() || report_starts_.front() != 0) {
      report_starts_.insert(report_starts_.begin(), 0);
    }
    report_starts_.push_back(held_.size());
    held_.insert(held_.end(), data.begin(), data.end());
    const bool complete = KeepOneFrame(held_, report_starts_, static_cast<std::size_t>(length));

    // frame_buffer[1..length] holds the frame begun, zeros after it.
    const std::size_t kept = std::min(held_.size(), static_cast<std::size_t>(length));
    std::fill(frame_buffer.begin() + 1, frame_buffer.begin() + 1 + length, std::uint8_t{0});
    std::copy_n(held_.begin(), kept, frame_buffer.begin() + 1);
    if (complete) {
      frame_pos_ = 1;
      report_starts_.clear();
      return true;
    }
    frame_pos_ = static_cast<std::int16_t>(1 + kept);
  }
  return false;
}

}  // namespace corva
