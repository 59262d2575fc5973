// upssim: status frames the UPS sends, command bytes the monitor sends back,
// and the garbage-byte generator used to exercise the monitor's resync logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace upssim {

// The two frame layouts the UPS family uses, named after their headers:
// amp  = "&&&", 10 bytes;  star = "***", 9 bytes.
enum class Kind { Amp, Star };

inline constexpr std::size_t kAmpFrameLength = 10;
inline constexpr std::size_t kStarFrameLength = 9;

// Largest value a high/low byte pair can carry with the 255 multiplier
// (255 * 255 + 254).
inline constexpr unsigned kMaxReading = 65279;

// Defaults: 14400 is the voltage reading for 120 V (the monitor takes the
// square root), 16667 us is one period at 60 Hz.
inline constexpr unsigned kDefaultVolt = 14400;
inline constexpr unsigned kDefaultPeriod = 16667;
inline constexpr unsigned kDefaultBattery = 200;
inline constexpr std::uint8_t kDefaultLine = '0';
inline constexpr std::uint8_t kDefaultMode = '0';

std::size_t frame_length(Kind kind);
std::string_view kind_name(Kind kind);             // "amp" / "star"
std::optional<Kind> parse_kind(std::string_view);  // accepts "amp" / "star"

struct HighLow {
    std::uint8_t high;
    std::uint8_t low;
    bool operator==(const HighLow&) const = default;
};

// Splits a reading into the two bytes the monitor recombines as
// high * 255 + low. Readings above kMaxReading are clamped to it.
HighLow split255(unsigned reading);

// Values that go into a frame. Everything is optional so that persistent
// settings, per-frame overrides and command-line flags can be layered with
// merge(); unset values fall back to the defaults above when the frame is
// built. Whether line/period were given matters for the *** kind, where the
// two share byte 7.
struct FrameFields {
    std::optional<unsigned> volt;     // 16-bit voltage reading (&&& only)
    std::optional<unsigned> period;   // period reading in microseconds
    std::optional<unsigned> battery;  // battery byte; "vbyte" is another name for it
    std::optional<std::uint8_t> line;  // line status character
    std::optional<std::uint8_t> mode;  // mode character
    std::optional<unsigned> noise;    // garbage bytes sent before each frame

    // Values set in `over` replace ours.
    void merge(const FrameFields& over);
    bool operator==(const FrameFields&) const = default;
};

// Builds one frame.
//  amp : 26 26 26 | volt hi | volt lo | battery | period hi | period lo | line | mode
//  star: 2A 2A 2A | 00 | battery | 00 | period hi | period lo or line | mode
// In a *** frame byte 7 is read both as the period low byte and as the line
// status. It carries the line status character unless a period was given
// and no line status was, in which case it carries the period low byte.
std::vector<std::uint8_t> build_frame(Kind kind, const FrameFields& fields);

// "26 26 26 38 1C" (upper-case, space separated).
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// Name of a single-byte command the monitor sends ("ALARM-ON" for 'A',
// "ALARM-OFF" for 'a', "SELF-TEST" for '~'); empty for anything else.
// The turn-off command (0x25 + minutes) is two bytes and handled by RxLog.
std::string_view command_name(std::uint8_t byte);

inline constexpr std::uint8_t kTurnOffByte = 0x25;  // '%'

// Deterministic garbage bytes for a given seed. Never produces '&' or '*',
// so noise can never be mistaken for the start of a frame.
class NoiseGenerator {
public:
    explicit NoiseGenerator(std::uint64_t seed);
    std::vector<std::uint8_t> next(std::size_t count);

private:
    std::mt19937_64 engine_;
};

}  // namespace upssim
