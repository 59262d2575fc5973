// upssim: the scenario language.
//
// One command per line; '#' starts a comment (at the start of a line or
// after whitespace); blank lines are ignored.
//
//   kind amp|star
//   set KEY=VALUE...            persistent values for later frames
//   frame [KEY=VALUE...] [repeat=N] [interval=MS]
//   noise N                     N garbage bytes (never '&' or '*')
//   bytes HEX HEX ...           raw bytes, e.g. "bytes 26 0x26 2a"
//   text "..."                  raw ASCII, escapes \n \r \t \\ \" \xNN
//   split K [gap=MS]            write the next frame as K bytes, then the rest
//   wait MS
//   every MS                    default interval for frame
//   expect-turnoff TIMEOUT_MS
//   quit
//
// Frame keys: volt, period, battery (alias vbyte), line, mode, noise.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "upssim/frame.h"

namespace upssim {

inline constexpr std::uint64_t kRepeatForever = std::numeric_limits<std::uint64_t>::max();
inline constexpr unsigned kDefaultSplitGapMs = 50;
inline constexpr unsigned kMaxMs = 86'400'000;  // one day; longer waits are typos
inline constexpr unsigned kMaxNoise = 65536;

struct KindStep {
    Kind kind;
    bool operator==(const KindStep&) const = default;
};
struct SetStep {
    FrameFields fields;
    bool operator==(const SetStep&) const = default;
};
struct FrameStep {
    FrameFields fields;  // overrides for these frames only
    std::uint64_t repeat = 1;
    std::optional<unsigned> interval_ms;  // unset: the current "every" value
    bool operator==(const FrameStep&) const = default;
};
struct NoiseStep {
    unsigned count;
    bool operator==(const NoiseStep&) const = default;
};
struct RawStep {  // from "bytes" and "text"
    std::vector<std::uint8_t> bytes;
    bool operator==(const RawStep&) const = default;
};
struct SplitStep {
    unsigned first;
    unsigned gap_ms = kDefaultSplitGapMs;
    bool operator==(const SplitStep&) const = default;
};
struct WaitStep {
    unsigned ms;
    bool operator==(const WaitStep&) const = default;
};
struct EveryStep {
    unsigned ms;
    bool operator==(const EveryStep&) const = default;
};
struct ExpectTurnOffStep {
    unsigned timeout_ms;
    bool operator==(const ExpectTurnOffStep&) const = default;
};
struct QuitStep {
    bool operator==(const QuitStep&) const = default;
};

using Action = std::variant<KindStep, SetStep, FrameStep, NoiseStep, RawStep, SplitStep, WaitStep, EveryStep,
                            ExpectTurnOffStep, QuitStep>;

struct Step {
    int line = 0;        // 1-based line number, 0 for the built-in loop
    std::string source;  // the line as written, comment stripped
    Action action;
};

class ParseError : public std::runtime_error {
public:
    ParseError(int line, const std::string& message);
    int line() const { return line_; }
    const std::string& detail() const { return detail_; }

private:
    int line_;
    std::string detail_;
};

// Parses one line. Returns nothing for blank and comment-only lines; throws
// ParseError (carrying line_no) for anything it does not understand.
std::optional<Step> parse_line(std::string_view text, int line_no);

// Parses a whole file; throws ParseError for the first bad line.
std::vector<Step> parse_scenario(std::string_view text);

// Frame values in KEY=VALUE form, shared by the parser and the command line.
// Returns an error message, or nothing when the value was accepted.
// `key` is one of volt, vbyte, period, battery, line, mode, noise.
std::optional<std::string> apply_field(FrameFields& fields, std::string_view key, std::string_view value);

// Parses a decimal or 0x-prefixed number no larger than `max`.
std::optional<unsigned long long> parse_number(std::string_view text, unsigned long long max);

// Parses a status character: a single character, or 0xNN for any byte.
std::optional<std::uint8_t> parse_char(std::string_view text);

// For scenarios read while they are being written (stdin): accepts input in
// arbitrary chunks and hands back each complete line as it is parsed.
// A bad line yields an error and parsing continues with the next one.
class IncrementalParser {
public:
    struct Outcome {
        int line = 0;
        std::optional<Step> step;  // nothing for blank/comment lines and errors
        std::string error;         // non-empty when the line was rejected
    };

    std::vector<Outcome> feed(std::string_view chunk);
    std::vector<Outcome> finish();  // handles a last line without newline

private:
    Outcome parse_one(std::string_view text);
    std::string partial_;
    int line_no_ = 0;
};

}  // namespace upssim
