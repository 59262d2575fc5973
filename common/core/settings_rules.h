#pragma once
// How the values of Corvamon.ini turn into numbers and texts. Every value in the file is text;
// these rules are shared by the monitor and the settings editor.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corva {

// The longest leading decimal number of `text` after leading blanks ("35%" -> 35, " 2.5x" -> 2.5),
// or nothing when the text does not start with a number.
std::optional<double> LeadingNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour, and saturates to the 16-bit range
// (values beyond it become -32768 or 32767 instead of wrapping).
std::int16_t RoundToInt16(double value);

// A numeric key: the leading number rounded (halves to even), 0 when there is none.
std::int16_t SettingNumber(std::string_view text);

// A switch that is on only when its numeric value equals 1; a text that is not a number is off.
bool SettingSwitchOn(std::string_view text);

// Bytes per status frame: the leading number of the two characters of DataString that start at
// its 4th character ("&&&10" -> 10, "***9" -> 9, missing -> 0).
std::int16_t FrameLengthFromDataString(std::string_view data_string);

// The folder form the monitor keeps: blanks trimmed at both ends and a final backslash.
std::string NormalizeFolder(std::string_view folder);

// The folder documents are saved in when none is set: the user's documents folder with a
// trailing "\", or "c:\" when the system cannot tell where that folder is.
inline constexpr char kFallbackSaveDirectory[] = "c:\\";
std::string SaveDirectoryFrom(const std::optional<std::string>& documents_folder);

// The text written for a value: an empty value is written as a single blank, so the key's line
// always carries some text after the equals sign.
std::string StoredSettingValue(std::string_view value);

// The battery threshold is kept within 20..70 percent.
inline constexpr std::int16_t kMinShutdownPercent = 20;
inline constexpr std::int16_t kMaxShutdownPercent = 70;
std::int16_t ClampShutdownPercent(std::int16_t percent);

}  // namespace corva
