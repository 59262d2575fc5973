#pragma once
// The UPS protocol in one place: frame layout, header bytes, commands and serial-line settings.

#include <cstdint>

#include "serial_port.h"

namespace corva::protocol {

// Status frames arrive unasked; no checksum, no length field, no terminator.
inline constexpr std::uint8_t kAmpHeaderByte = 0x26;   // "&&&" frames, 10 bytes
inline constexpr std::uint8_t kStarHeaderByte = 0x2A;  // "***" frames, 9 bytes
inline constexpr std::uint8_t kUsbHeaderByte = 0xFF;   // also accepted as a header on USB
inline constexpr int kHeaderLength = 3;
inline constexpr int kAmpFrameLength = 10;
inline constexpr int kStarFrameLength = 9;

// Positions in a 10-byte frame; a 9-byte frame reads the battery, line status and mode one
// position earlier (its FrameOffset is 1).
inline constexpr int kPosVoltageHigh = 3;
inline constexpr int kPosVoltageLow = 4;
inline constexpr int kPosBattery = 5;
inline constexpr int kPosPeriodHigh = 6;
inline constexpr int kPosPeriodLow = 7;
inline constexpr int kPosLineStatus = 8;
inline constexpr int kPosMode = 9;
// Two-byte readings are high * 255 + low (not 256).
inline constexpr int kReadingMultiplier = 255;

// Commands to the UPS.
inline constexpr std::uint8_t kCmdTurnOff = 0x25;    // '%', followed by the minutes
inline constexpr std::uint8_t kCmdAlarmOn = 0x41;    // 'A'
inline constexpr std::uint8_t kCmdAlarmOff = 0x61;   // 'a'
inline constexpr std::uint8_t kCmdSelfTest = 0x7E;   // '~'
// Pause between '%' and the minutes byte on the serial link.
inline constexpr int kTurnOffPauseMs = 1200;

// The serial status link: COM1 unless the settings name another port (1..255).
inline constexpr int kSerialPort = 1;
inline constexpr int kHighestSerialPort = 255;
inline constexpr char kSerialSettings[] = "9600,N,8,1";
inline constexpr int kSerialInputLen = 0;        // a read takes everything waiting
inline constexpr int kSerialInputModeBinary = 1; // input as a byte array
inline constexpr int kSerialOutBufferSize = 4;
inline constexpr int kSerialSThreshold = 5;
inline constexpr int kSerialRThreshold = 5;

// Communication events of a serial port.
inline constexpr int kCommEventSend = comm::kEventSend;
inline constexpr int kCommEventReceive = comm::kEventReceive;

}  // namespace corva::protocol
