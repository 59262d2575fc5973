#include "corva_funciones.h"

#include <array>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>

namespace corva {
namespace {

struct Point {
  double x;
  double y;
};

// Square root of the voltage reading -> volts, serial link.
constexpr std::array<Point, 7> kRootTable{{
    {75, 96}, {83, 102}, {87, 105}, {98, 113}, {103, 116}, {118, 124}, {145, 140}}};
// Voltage byte of a 9-byte frame -> volts.
constexpr std::array<Point, 7> kByteTable{{
    {144, 95.1}, {154, 98.3}, {184, 112.6}, {195, 116.5}, {215, 126}, {228, 131}, {249, 140.3}}};
// Above this the root calibration is not trusted.
constexpr double kRootCalibrationLimit = 280;
constexpr double kUncalibratedOffset = 1.2;

double Lagrange(const std::array<Point, 7>& table, double x) {
  double sum = 0;
  for (std::size_t k = 0; k < table.size(); ++k) {
    double term = table[k].y;
    for (std::size_t j = 0; j < table.size(); ++j) {
      if (j != k) term *= (x - table[j].x) / (table[k].x - table[j].x);
    }
    sum += term;
  }
  return sum;
}

}  // namespace

double BatteryPercentFromByte(std::uint8_t byte, bool on_battery) {
  // (byte - 140) * 100 stays within -14000..11500, inside the 16-bit range.
  const auto scaled = static_cast<std::int16_t>((static_cast<int>(byte) - 140) * 100);
  const float quotient = static_cast<float>(scaled) / (on_battery ? 50.0f : 75.0f);
  return quotient > 100.0f ? 100.0 : static_cast<double>(quotient);
}

std::string LineClassFromByte(std::uint8_t byte) {
  switch (byte) {
    case '1': return "Baja";
    case '2': return "Alta";
    case '3': return kOverload;
    default: return "Normal";
  }
}

std::string ModeTextFromByte(std::uint8_t byte) {
  switch (byte) {
    case '0': return "Normal";
    case '1': return "Bateria";
    case '2': return "Apagando";
    default: return "N/A";
  }
}

double VoltageFromRoot(double root, bool usb_link) {
  if (usb_link) return root + kUncalibratedOffset;
  for (const Point& p : kRootTable) {
    if (root == p.x) return p.y;
  }
  // Far outside its points the polynomial swings wildly; a value above 280 V or below 0 V is
  // not a voltage, and the uncalibrated reading is closer to the truth.
  const double volts = Lagrange(kRootTable, root);
  return volts > kRootCalibrationLimit || volts < 0 ? root + kUncalibratedOffset : volts;
}

double VoltageFromByte(std::uint8_t byte) {
  // The polynomial's products of (b - Xj) are 32-bit integers; for bytes up to 100 the product
  // over the five lower points leaves that range, and the conversion gives 0.
  std::int32_t product = 1;
  for (std::size_t j = 0; j < 5; ++j) {
    const std::int32_t factor = static_cast<std::int32_t>(byte) - static_cast<std::int32_t>(kByteTable[j].x);
    if (__builtin_mul_overflow(product, factor, &product)) return 0;
  }
  return Lagrange(kByteTable, static_cast<double>(byte));
}

double VoltageFromReading(double root, std::uint8_t byte, bool usb_link) {
  if (root > 0) return VoltageFromRoot(root, usb_link);
  if (byte != 0) return VoltageFromByte(byte);
  return 0;
}

std::optional<double> FrequencyFromPeriod(std::int16_t reading) {
  if (reading == 0) return std::nullopt;
  return 1000000.0 / static_cast<double>(reading);
}

std::optional<std::int16_t> ReadingFromBytes(std::uint8_t high, std::uint8_t low) {
  std::int16_t product = 0;
  std::int16_t sum = 0;
  if (__builtin_mul_overflow(static_cast<std::int16_t>(high), std::int16_t{255}, &product)) {
    return std::nullopt;
  }
  if (__builtin_add_overflow(product, static_cast<std::int16_t>(low), &sum)) return std::nullopt;
  return sum;
}

std::optional<std::int16_t> RoundHalfEven16(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  if (rounded < std::numeric_limits<std::int16_t>::min() ||
      rounded > std::numeric_limits<std::int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int16_t>(rounded);
}

std::string FormatNumber(double value, std::string_view pattern,
                         std::string_view decimal_separator) {
  const auto point = pattern.find('.');
  const std::size_t decimals = point == std::string_view::npos ? 0 : pattern.size() - point - 1;
  if (!std::isfinite(value)) return "0";

  // The exact decimal expansion of the double, then rounded at `decimals`, halves away from
  // zero as pattern formatting does.
  char exact[512];
  const auto [end, ec] = std::to_chars(exact, exact + sizeof(exact), std::fabs(value),
                                       std::chars_format::fixed, 80);
  if (ec != std::errc()) return "0";
  std::string digits(exact, end);
  const auto dot = digits.find('.');
  std::string integer = digits.substr(0, dot);
  std::string fraction = dot == std::string::npos ? std::string() : digits.substr(dot + 1);
  fraction.resize(std::max(fraction.size(), decimals + 1), '0');
  const bool round_up = fraction[decimals] >= '5';
  std::string kept = integer + fraction.substr(0, decimals);
  if (round_up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') kept[static_cast<std::size_t>(i--)] = '0';
    if (i < 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[static_cast<std::size_t>(i)];
    }
  }
  std::string int_part = kept.substr(0, kept.size() - decimals);
  const std::string frac_part = kept.substr(kept.size() - decimals);
  const auto first = int_part.find_first_not_of('0');
  int_part = first == std::string::npos ? "0" : int_part.substr(first);

  const bool zero = int_part == "0" && frac_part.find_first_not_of('0') == std::string::npos;
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += int_part;
  if (decimals > 0) {
    out += decimal_separator;
    out += frac_part;
  }
  return out;
}

}  // namespace corva
