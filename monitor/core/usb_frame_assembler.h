#pragma once
// Status frames put together from the USB device's input reports: [report id][n][n frame bytes].
// A frame may come whole in one report or split over several; the device starts every frame in a
// report of its own. Reads are bounded per TimerUSB tick so the window keeps answering whatever
// the device does.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ports.h"

namespace corva {

class UsbFrameAssembler {
 public:
  explicit UsbFrameAssembler(UsbLink& usb) : usb_(usb) {}

  // Starts a tick's allowance of reads: how many reports it may take and how long it may wait.
  void BeginTick();
  // Reads reports within the tick's allowance until a whole frame of `frame_length` bytes is in
  // frame_buffer[1..frame_length] (zeros after the part of a frame begun). Answers whether one
  // is. Without a frame length the monitor can read, the kind is learned from the first report
  // that opens with a whole header (LearnedLength), and frame_buffer grows to hold it if it must;
  // the reports before it are taken but nothing is built. Without room for a frame of a usable
  // `frame_length` after frame_buffer[0], nothing is built either.
  bool Assemble(std::vector<std::uint8_t>& frame_buffer, int frame_length);
  // The frame length learned from a header when Assemble was given none it can read; 0 before.
  int LearnedLength() const { return learned_length_; }
  // Whether the link answered that the device is gone since this was last asked.
  bool TakeLost();
  // Forgets the frame begun: the next frame starts from its header.
  void Restart();

  // Where the next byte of the frame begun goes in FrameBuffer (1 between frames).
  std::int16_t FramePos() const { return frame_pos_; }

 private:
  // The wait of the next read in this tick, taken from the tick's allowance.
  int NextReadWaitMs();

  UsbLink& usb_;
  std::int16_t frame_pos_ = 1;
  int reads_left_ = 0;
  int wait_left_ms_ = 0;
  bool first_read_ = true;
  bool lost_ = false;
  int learned_length_ = 0;
  // One report as the device sends it: report id, count, data.
  std::vector<std::uint8_t> report_;
  // Where in the frame begun so far each of its reports started (0 for the first), and the
  // frame's bytes while a report is being added to them.
  std::vector<std::size_t> report_starts_;
  std::vector<std::uint8_t> held_;
};

}  // namespace corva
