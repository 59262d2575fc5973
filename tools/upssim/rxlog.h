// upssim: turns bytes received from the monitor into log lines.
//
// Every byte gets an "RX" line. Commands the monitor sends get an extra
// "CMD" line naming them. The turn-off command is two bytes, '%' and then
// the number of minutes roughly 1.2 s later, so the decoder remembers a
// pending '%' and reports the command, with the measured gap, when the
// minutes byte arrives.
//
// The decoder has no clock of its own: callers pass the time of each byte
// in milliseconds since start, which keeps it a pure function of its input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upssim {

struct TurnOff {
    unsigned minutes = 0;
    std::int64_t gap_ms = 0;       // time between '%' and the minutes byte
    std::int64_t received_ms = 0;  // time the minutes byte arrived
    bool operator==(const TurnOff&) const = default;
};

struct RxResult {
    // Log line bodies without wall-clock time, e.g. "RX 1203 0x05" or
    // "CMD 1203 TURN-OFF \"%\" + m=5 (gap 1203 ms)".
    std::vector<std::string> lines;
    std::optional<TurnOff> turn_off;  // set when this byte completed one
};

class RxLog {
public:
    // A '%' that sees no further byte within `turnoff_window_ms` is reported
    // as incomplete, and the late byte is then decoded on its own.
    static constexpr std::int64_t kDefaultTurnOffWindowMs = 10000;

    explicit RxLog(std::int64_t turnoff_window_ms = kDefaultTurnOffWindowMs);

    RxResult feed(std::uint8_t byte, std::int64_t ms);

    // Reports a '%' still waiting for its minutes byte (call at shutdown).
    std::vector<std::string> finish(std::int64_t ms);

    bool turnoff_pending() const { return pending_since_.has_value(); }

private:
    std::int64_t window_ms_;
    std::optional<std::int64_t> pending_since_;
};

// "RX 12 0x25 '%'" for printable bytes, "RX 12 0x05" otherwise.
std::string rx_line(std::uint8_t byte, std::int64_t ms);

}  // namespace upssim
