#include <algorithm>
#include <charconv>

#include "serial_port.h"

namespace corva {
namespace {

std::string_view NextField(std::string_view& rest) {
  const auto comma = rest.find(',');
  std::string_view field = rest.substr(0, comma);
  rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
  return field;
}

}  // namespace

std::optional<SerialSettings> ParseSerialSettings(std::string_view text) {
  if (std::count(text.begin(), text.end(), ',') != 3) return std::nullopt;
  SerialSettings s;
  std::string_view rest = text;
  const std::string_view baud = NextField(rest);
  const std::string_view parity = NextField(rest);
  const std::string_view data = NextField(rest);
  const std::string_view stop = NextField(rest);

  auto [b_end, b_ec] = std::from_chars(baud.data(), baud.data() + baud.size(), s.baud);
  if (b_ec != std::errc() || b_end != baud.data() + baud.size() || s.baud == 0) return std::nullopt;

  if (parity.size() != 1) return std::nullopt;
  const char p = static_cast<char>(parity[0] & ~0x20);  // upper case
  if (p != 'N' && p != 'E' && p != 'O' && p != 'M' && p != 'S') return std::nullopt;
  s.parity = p;

  if (data.size() != 1 || data[0] < '4' || data[0] > '8') return std::nullopt;
  s.data_bits = data[0] - '0';

  if (stop == "1") {
    s.stop_bits_x10 = 10;
  } else if (stop == "1.5") {
    s.stop_bits_x10 = 15;
  } else if (stop == "2") {
    s.stop_bits_x10 = 20;
  } else {
    return std::nullopt;
  }
  return s;
}

}  // namespace corva
