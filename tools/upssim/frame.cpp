#include "upssim/frame.h"

#include <algorithm>

namespace upssim {

std::size_t frame_length(Kind kind) {
    return kind == Kind::Amp ? kAmpFrameLength : kStarFrameLength;
}

std::string_view kind_name(Kind kind) {
    return kind == Kind::Amp ? "amp" : "star";
}

std::optional<Kind> parse_kind(std::string_view text) {
    if (text == "amp") return Kind::Amp;
    if (text == "star") return Kind::Star;
    return std::nullopt;
}

HighLow split255(unsigned reading) {
    reading = std::min(reading, kMaxReading);
    return {static_cast<std::uint8_t>(reading / 255), static_cast<std::uint8_t>(reading % 255)};
}

void FrameFields::merge(const FrameFields& over) {
    if (over.volt) volt = over.volt;
    if (over.period) period = over.period;
    if (over.battery) battery = over.battery;
    if (over.line) line = over.line;
    if (over.mode) mode = over.mode;
    if (over.noise) noise = over.noise;
}

std::vector<std::uint8_t> build_frame(Kind kind, const FrameFields& f) {
    const auto period = split255(f.period.value_or(kDefaultPeriod));
    const auto battery = static_cast<std::uint8_t>(std::min(f.battery.value_or(kDefaultBattery), 255u));
    const std::uint8_t line = f.line.value_or(kDefaultLine);
    const std::uint8_t mode = f.mode.value_or(kDefaultMode);

    if (kind == Kind::Amp) {
        const auto volt = split255(f.volt.value_or(kDefaultVolt));
        return {0x26, 0x26, 0x26, volt.high, volt.low, battery, period.high, period.low, line, mode};
    }
    const std::uint8_t shared = (f.period && !f.line) ? period.low : line;
    return {0x2A, 0x2A, 0x2A, 0x00, battery, 0x00, period.high, shared, mode};
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::string_view command_name(std::uint8_t byte) {
    switch (byte) {
        case 'A': return "ALARM-ON";
        case 'a': return "ALARM-OFF";
        case '~': return "SELF-TEST";
        default: return {};
    }
}

NoiseGenerator::NoiseGenerator(std::uint64_t seed) : engine_(seed) {}

std::vector<std::uint8_t> NoiseGenerator::next(std::size_t count) {
    // 254 usable values: every byte except '&' (0x26) and '*' (0x2A).
    // Map 0..253 onto 0..255 by stepping over the two excluded values.
    std::vector<std::uint8_t> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned v = static_cast<unsigned>(engine_() % 254);
        if (v >= 0x26) ++v;
        if (v >= 0x2A) ++v;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

}  // namespace upssim
