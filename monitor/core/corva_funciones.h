#pragma once
// From raw frame bytes to the values the window shows: battery percent, line class, voltage and
// frequency, with the UPS's calibration tables. Every conversion states its arithmetic exactly
// (16-bit sums, single-precision quotients, 32-bit products), because the displayed values and
// the shutdown threshold depend on it to the last bit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corva {

// (byte - 140) * 100 as a 16-bit integer, divided by 50 on battery or 75 on line power as a
// single-precision quotient; above 100 it is 100, and there is no lower bound.
double BatteryPercentFromByte(std::uint8_t byte, bool on_battery);

// "0" Normal, "1" Baja, "2" Alta, "3" Sobrecarga; any other byte Normal.
std::string LineClassFromByte(std::uint8_t byte);
inline constexpr char kOverload[] = "Sobrecarga";

// Mode texts: "0" Normal, "1" Bateria, "2" Apagando, any other byte N/A.
std::string ModeTextFromByte(std::uint8_t byte);

// Volts from the square root of the 16-bit reading. On the USB link the root plus 1.2; on the
// serial link the calibration table (exact at its points, Lagrange in between), falling back to
// root + 1.2 where the polynomial leaves 0..280 V.
double VoltageFromRoot(double root, bool usb_link);

// Volts from the single voltage byte of a 9-byte frame: the calibration polynomial for bytes
// 101..255, 0 below (the 32-bit products it needs overflow there).
double VoltageFromByte(std::uint8_t byte);

// With a root above 0 the root's volts; else with a byte the byte's volts; else 0.
double VoltageFromReading(double root, std::uint8_t byte, bool usb_link);

// 1000000 / reading; nothing for a reading of 0.
std::optional<double> FrequencyFromPeriod(std::int16_t reading);

// A two-byte reading high * 255 + low as a 16-bit signed integer; nothing when it overflows.
std::optional<std::int16_t> ReadingFromBytes(std::uint8_t high, std::uint8_t low);

// Pattern formatting as the window uses it: "##0", "#0.0", "##0.0" and "##0.#0" (at least one
// integer digit; 0, 1, 1 and 2 decimals), halves rounded away from zero, with the given decimal
// separator.
std::string FormatNumber(double value, std::string_view pattern, std::string_view decimal_separator);

// Real to integer, halves to the even neighbour; nothing outside the 16-bit range.
std::optional<std::int16_t> RoundHalfEven16(double value);

}  // namespace corva
