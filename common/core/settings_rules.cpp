#include "settings_rules.h"

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>

namespace corva {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  bool whole = false;  // a digit other than 0 before the point: the number is at least 1
  for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) whole = whole || text[i] != '0';
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    std::size_t fraction = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++fraction;
    if (fraction > 0 || digits > 0) {
      digits += fraction;
      i = j;
    }
  }
  if (digits == 0) return std::nullopt;

  // from_chars does not take a leading '+'.
  std::size_t from = start;
  if (text[from] == '+') ++from;
  double value = 0;
  const char* first = text.data() + from;
  const char* last = text.data() + i;
  auto [end, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range) {
    // Too large for a double only when it is at least 1; otherwise too small, and so 0.
    const double limit = whole ? std::numeric_limits<double>::infinity() : 0.0;
    return text[start] == '-' ? -limit : limit;
  }
  if (ec != std::errc() || end != last) return std::nullopt;
  return value;
}

std::int16_t RoundToInt16(double value) {
  if (std::isnan(value)) return 0;
  // nearbyint follows the current rounding mode, which is round-to-nearest-even by default;
  // set it explicitly so a caller that changed it cannot change our results.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  if (rounded <= std::numeric_limits<std::int16_t>::min()) return std::numeric_limits<std::int16_t>::min();
  if (rounded >= std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>(rounded);
}

std::int16_t SettingNumber(std::string_view text) {
  const auto number = LeadingNumber(text);
  return number ? RoundToInt16(*number) : std::int16_t{0};
}

bool SettingSwitchOn(std::string_view text) {
  const auto number = LeadingNumber(text);
  return number && *number == 1.0;
}

std::int16_t FrameLengthFromDataString(std::string_view data_string) {
  if (data_string.size() < 4) return 0;
  return SettingNumber(data_string.substr(3, 2));
}

std::string NormalizeFolder(std::string_view folder) {
  std::size_t first = 0;
  std::size_t last = folder.size();
  while (first < last && folder[first] == ' ') ++first;
  while (last > first && folder[last - 1] == ' ') --last;
  std::string result(folder.substr(first, last - first));
  if (result.empty() || result.back() != '\\') result.push_back('\\');
  return result;
}

std::string StoredSettingValue(std::string_view value) {
  return value.empty() ? std::string(" ") : std::string(value);
}

std::int16_t ClampShutdownPercent(std::int16_t percent) {
  return std::clamp(percent, kMinShutdownPercent, kMaxShutdownPercent);
}

std::string SaveDirectoryFrom(const std::optional<std::string>& documents_folder) {
  if (!documents_folder || documents_folder->empty()) return kFallbackSaveDirectory;
  std::string folder = *documents_folder;
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

}  // namespace corva
