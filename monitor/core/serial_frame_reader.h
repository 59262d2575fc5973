#pragma once
// Finds status frames in the bytes taken from the serial port.
//
// When the waiting bytes start with a header ("&&&" or "***") they are taken whole, and the
// frame is their first FrameLength bytes. Otherwise the bytes before the first header are noise:
// they are dropped and the frame is taken from the header once FrameLength bytes follow it. A
// header whose frame is still incomplete is held for the next event. Bytes with no header at
// all give no frame, so a burst of line noise never reads as a status (a stray "2" in the mode
// position would otherwise read as "the UPS is shutting down").
//
// A reader made without a frame length it can read (DataString gave none) learns it from the
// first header it finds: "&&&" frames are 10 bytes, "***" frames 9.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corva {

class SerialFrameReader {
 public:
  explicit SerialFrameReader(int frame_length) : frame_length_(frame_length) {}

  // The frame length read with: the one given, or the one learned from the first header.
  int FrameLength() const { return frame_length_; }
  // Bytes held from earlier events (a partial frame, or a possible header split at the end).
  std::size_t Held() const { return held_.size(); }
  // Whether `waiting` more bytes, together with those held, can make a frame.
  bool Enough(int waiting) const;
  // Bytes still missing for the frame that is held; 0 when no header is held.
  int Missing() const;

  // Takes the bytes just read from the port. Answers the buffer to decode, starting with the
  // frame's first byte and holding every byte taken with it, when a frame is complete.
  std::optional<std::vector<std::uint8_t>> Push(std::span<const std::uint8_t> bytes);

  void Clear() { held_.clear(); }

 private:
  int frame_length_;
  std::vector<std::uint8_t> held_;
};

// A header is three equal bytes, all '&' or all '*', at `pos`.
bool IsFrameHeaderAt(std::span<const std::uint8_t> bytes, std::size_t pos);

}  // namespace corva
