// The pure decoding step: frame bytes in, readings out, with no window, log or link behind it.

#include <gtest/gtest.h>

#include "status_decoder.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 10-byte frame: reading 14400 (root 120), battery byte, period 16667 (60 Hz), line, mode.
Bytes Frame(std::uint8_t battery, std::uint8_t line, std::uint8_t mode) {
  return {'&', '&', '&', 56, 120, battery, 65, 92, line, mode};
}

TEST(StatusDecoder, TheFrameIsTakenFromFrameBufferWhereItsLinkPutsIt) {
  Bytes buffer = Frame(200, '0', '0');
  buffer.insert(buffer.begin(), 0xEE);  // FrameBuffer[0] is no part of a USB frame
  EXPECT_EQ(FrameFromBuffer(buffer, 10, true), Frame(200, '0', '0'));
  EXPECT_EQ(FrameFromBuffer(buffer, 10, false), Bytes(buffer.begin(), buffer.begin() + 10));
  // A FrameBuffer shorter than the frame reads zeros past its end.
  EXPECT_EQ(FrameFromBuffer(Bytes{0xEE, '&', '&'}, 9, true),
            (Bytes{'&', '&', 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(FrameFromBuffer(buffer, -1, false).empty());
}

TEST(StatusDecoder, UsbReadingsAreUncalibratedAndTheSerialOnesCalibrated) {
  const Bytes frame = Frame(200, '0', '0');
  const StatusReadings usb = DecodeStatusFrame(frame, true, false);
  const StatusReadings serial = DecodeStatusFrame(frame, false, false);
  EXPECT_EQ(VoltageText(usb, false, {}), "121.2 Volts");
  EXPECT_EQ(VoltageText(serial, false, {}), "125.4 Volts");
  EXPECT_EQ(FrequencyText(usb, {}), "60.0 Hz");
  EXPECT_EQ(BatteryText(serial, {}), "80.00 %");
  EXPECT_EQ(serial.line_class, "Normal");
  EXPECT_EQ(serial.mode_text, "Normal");
  EXPECT_EQ(serial.mode, std::optional<std::uint8_t>('0'));
}

TEST(StatusDecoder, TheBatteryDivisorIsThePowerStateBeforeTheFrame) {
  // A battery frame read while the UPS was still on line power divides by 75; only the frames
  // after it divide by 50.
  const Bytes frame = Frame(190, '0', '1');
  EXPECT_EQ(BatteryText(DecodeStatusFrame(frame, false, false), {}), "66.67 %");
  EXPECT_EQ(BatteryText(DecodeStatusFrame(frame, false, true), {}), "100.00 %");
  EXPECT_EQ(VoltageText(DecodeStatusFrame(frame, false, true), true, {}), "Monitoreando Equipo");
}

// Fault: a frame too short for its mode byte read it from past its end, and a missing mode read
// as line power.
TEST(StatusDecoder, AShortFrameReadsOnlyWhatItReaches) {
  const Bytes frame = Frame(200, '0', '2');
  const StatusReadings six = DecodeStatusFrame(std::span(frame).first(6), false, false);
  EXPECT_TRUE(six.battery_read);
  EXPECT_EQ(BatteryText(six, {}), "80.00 %");
  EXPECT_FALSE(six.mode);
  EXPECT_EQ(six.mode_text, "");
  EXPECT_EQ(six.line_class, "");
  EXPECT_EQ(six.voltage, 0);
  EXPECT_EQ(six.frequency, 0);

  const StatusReadings five = DecodeStatusFrame(std::span(frame).first(5), false, false);
  EXPECT_FALSE(five.battery_read);
  EXPECT_EQ(five.battery, 0);
  EXPECT_FALSE(DecodeStatusFrame({}, true, true).battery_read);
}

}  // namespace
}  // namespace corva
