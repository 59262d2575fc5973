#include "status_decoder.h"

#include <algorithm>
#include <cmath>

#include "corva_funciones.h"
#include "monitor_texts.h"
#include "protocol.h"

namespace corva {

bool FrameLengthUsable(int frame_length) {
  return frame_length == protocol::kAmpFrameLength || frame_length == protocol::kStarFrameLength;
}

int FrameLengthForHeader(std::uint8_t header_byte) {
  switch (header_byte) {
    case protocol::kAmpHeaderByte:
    case protocol::kUsbHeaderByte:
      return protocol::kAmpFrameLength;
    case protocol::kStarHeaderByte:
      return protocol::kStarFrameLength;
    default:
      return 0;
  }
}

std::vector<std::uint8_t> FrameFromBuffer(const std::vector<std::uint8_t>& frame_buffer,
                                          int frame_length, bool usb_link) {
  const std::size_t length = static_cast<std::size_t>(std::max<int>(0, frame_length));
  const std::size_t first = usb_link ? 1 : 0;
  std::vector<std::uint8_t> frame(length, 0);
  for (std::size_t i = 0; i < length && first + i < frame_buffer.size(); ++i) {
    frame[i] = frame_buffer[first + i];
  }
  return frame;
}

StatusReadings DecodeStatusFrame(std::span<const std::uint8_t> frame, bool usb_link,
                                 bool on_battery) {
  const auto at = [frame](int position) -> std::optional<std::uint8_t> {
    if (position < 0 || static_cast<std::size_t>(position) >= frame.size()) return std::nullopt;
    return frame[static_cast<std::size_t>(position)];
  };

  StatusReadings readings;
  int offset = 0;
  if (auto b = at(1); b && *b == protocol::kStarHeaderByte) offset = 1;

  if (auto b = at(protocol::kPosBattery - offset)) {
    readings.battery = BatteryPercentFromByte(*b, on_battery);
    readings.battery_read = true;
  }
  if (auto b = at(protocol::kPosLineStatus - offset)) readings.line_class = LineClassFromByte(*b);

  readings.mode = at(protocol::kPosMode - offset);
  if (readings.mode && *readings.mode == '0') {
    if (offset == 0) {
      const auto high = at(protocol::kPosVoltageHigh);
      const auto low = at(protocol::kPosVoltageLow);
      if (high && low) {
        if (const auto reading = ReadingFromBytes(*high, *low)) {
          readings.voltage =
              VoltageFromReading(std::sqrt(static_cast<double>(*reading)), 0, usb_link);
        }
      }
    } else if (auto b = at(protocol::kPosVoltageLow)) {
      readings.voltage = VoltageFromReading(0, *b, usb_link);
    }
    const auto high = at(protocol::kPosPeriodHigh);
    const auto low = at(protocol::kPosPeriodLow);
    if (high && low) {
      if (const auto reading = ReadingFromBytes(*high, *low)) {
        if (const auto hz = FrequencyFromPeriod(*reading)) readings.frequency = *hz;
      }
    }
  } else if (readings.mode) {
    readings.voltage = 0;
    readings.frequency = 60.0;
  }
  if (readings.mode) readings.mode_text = ModeTextFromByte(*readings.mode);
  return readings;
}

std::string BatteryText(const StatusReadings& readings, const Separators& separators) {
  return FormatNumber(readings.battery, "##0.#0", separators.decimal) + " %";
}

std::string VoltageText(const StatusReadings& readings, bool on_battery,
                        const Separators& separators) {
  return on_battery ? std::string(text::kMonitoring)
                    : FormatNumber(readings.voltage, "##0.0", separators.decimal) + " Volts";
}

std::string FrequencyText(const StatusReadings& readings, const Separators& separators) {
  return FormatNumber(readings.frequency, "#0.0", separators.decimal) + " Hz";
}

}  // namespace corva
