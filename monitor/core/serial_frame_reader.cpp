#include "serial_frame_reader.h"

#include "protocol.h"

namespace corva {
namespace {

bool IsHeaderByte(std::uint8_t b) {
  return b == protocol::kAmpHeaderByte || b == protocol::kStarHeaderByte;
}

}  // namespace

bool IsFrameHeaderAt(std::span<const std::uint8_t> bytes, std::size_t pos) {
  if (pos + protocol::kHeaderLength > bytes.size()) return false;
  const std::uint8_t first = bytes[pos];
  if (!IsHeaderByte(first)) return false;
  for (int i = 1; i < protocol::kHeaderLength; ++i) {
    if (bytes[pos + static_cast<std::size_t>(i)] != first) return false;
  }
  return true;
}

int SerialFrameReader::Missing() const {
  if (!IsFrameHeaderAt(held_, 0)) return 0;
  const long long missing = static_cast<long long>(frame_length_) - static_cast<long long>(held_.size());
  return missing > 0 ? static_cast<int>(missing) : 0;
}

std::optional<std::vector<std::uint8_t>> SerialFrameReader::Push(
    std::span<const std::uint8_t> bytes) {
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  const std::size_t length = frame_length_ > 0 ? static_cast<std::size_t>(frame_length_) : 0;

  for (;;) {
    std::size_t header = 0;
    while (header < held_.size() && !IsFrameHeaderAt(held_, header)) ++header;
    if (header == held_.size()) {
      // No header: keep only a tail that may be the start of one ("&" or "&&").
      std::size_t keep = 0;
      while (keep < held_.size() && keep + 1 < static_cast<std::size_t>(protocol::kHeaderLength)) {
        const std::uint8_t b = held_[held_.size() - 1 - keep];
        if (!IsHeaderByte(b) || b != held_.back()) break;
        ++keep;
      }
      held_.erase(held_.begin(), held_.end() - static_cast<std::ptrdiff_t>(keep));
      return std::nullopt;
    }
    // Bytes before the first header are noise.
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(header));

    // Another header inside the first FrameLength bytes means this frame was cut short (the
    // line dropped bytes): reading on would take the next frame's header for fields.
    std::size_t next = 1;
    while (next < length && !IsFrameHeaderAt(held_, next)) ++next;
    if (next < length && next + protocol::kHeaderLength <= held_.size()) {
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(next));
      continue;
    }

    if (held_.size() < length) return std::nullopt;  // the rest comes with a later event
    // A whole frame: everything taken with it goes to decoding, which reads its first
    // FrameLength bytes.
    std::vector<std::uint8_t> frame;
    frame.swap(held_);
    return frame;
  }
}

}  // namespace corva
