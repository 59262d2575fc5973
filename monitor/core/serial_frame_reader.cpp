#include "serial_frame_reader.h"

#include "protocol.h"
#include "status_decoder.h"

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

bool SerialFrameReader::Enough(int waiting) const {
  // Until the kind is known any byte may hold the header that tells it.
  if (!FrameLengthUsable(frame_length_)) return waiting > 0;
  return static_cast<long long>(held_.size()) + waiting >= frame_length_;
}

int SerialFrameReader::Missing() const {
  if (!IsFrameHeaderAt(held_, 0)) return 0;
  const long long missing = static_cast<long long>(frame_length_) - static_cast<long long>(held_.size());
  return missing > 0 ? static_cast<int>(missing) : 0;
}

std::optional<std::vector<std::uint8_t>> SerialFrameReader::Push(
    std::span<const std::uint8_t> bytes) {
  held_.insert(held_.end(), bytes.begin(), bytes.end());

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
    if (!FrameLengthUsable(frame_length_)) frame_length_ = FrameLengthForHeader(held_[0]);
    const auto length = static_cast<std::size_t>(frame_length_);

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
