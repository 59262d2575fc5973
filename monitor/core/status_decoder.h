#pragma once
// A status frame read into the values the window shows: battery, voltage, frequency, line class
// and mode. Pure: the same bytes and link always read the same, and reading changes nothing.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "event_log.h"

namespace corva {

// What one status frame reads.
struct StatusReadings {
  double battery = 0;
  double voltage = 0;
  double frequency = 0;
  std::string line_class;
  std::string mode_text;
  // Whether the frame reaches its battery byte; only then does it say anything about the battery.
  bool battery_read = false;
  // The mode byte, when the frame reaches it.
  std::optional<std::uint8_t> mode;
};

// Whether `frame_length` names a frame kind the monitor can read (9 or 10).
bool FrameLengthUsable(int frame_length);

// The frame kind a header byte opens: "&&&" (and the USB link's 0xFF 0xFF 0xFF) frames are 10
// bytes, "***" frames 9. Any other byte opens none: 0.
int FrameLengthForHeader(std::uint8_t header_byte);

// The frame held in FrameBuffer: `frame_length` bytes from its first byte on the serial link, from
// its second on the USB link; zeros where FrameBuffer is shorter.
std::vector<std::uint8_t> FrameFromBuffer(const std::vector<std::uint8_t>& frame_buffer,
                                          int frame_length, bool usb_link);

// Reads a frame. A "***" frame (header byte at position 1) reads its battery, line status and mode
// one position earlier. The battery divides by the battery divisor when the UPS was on battery
// before this frame. Each step reads only what it can: a byte outside the frame, an overflowing
// reading or a division by zero leaves that step's values at zero.
StatusReadings DecodeStatusFrame(std::span<const std::uint8_t> frame, bool usb_link,
                                 bool on_battery);

// The readings as the window and the log write them, with the user's decimal separator.
std::string BatteryText(const StatusReadings& readings, const Separators& separators);
// On battery the voltage label shows that the UPS is being monitored instead of a voltage.
std::string VoltageText(const StatusReadings& readings, bool on_battery,
                        const Separators& separators);
std::string FrequencyText(const StatusReadings& readings, const Separators& separators);

}  // namespace corva
