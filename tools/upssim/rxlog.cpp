#include "upssim/rxlog.h"

#include <cstdio>

#include "upssim/frame.h"

namespace upssim {

std::string rx_line(std::uint8_t byte, std::int64_t ms) {
    char buf[64];
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(buf, sizeof buf, "RX %lld 0x%02X '%c'", static_cast<long long>(ms), byte, byte);
    } else {
        std::snprintf(buf, sizeof buf, "RX %lld 0x%02X", static_cast<long long>(ms), byte);
    }
    return buf;
}

RxLog::RxLog(std::int64_t turnoff_window_ms) : window_ms_(turnoff_window_ms) {}

static std::string incomplete_line(std::int64_t ms, std::int64_t waited_ms) {
    return "CMD " + std::to_string(ms) + " INCOMPLETE \"%\" (no minutes byte after " +
           std::to_string(waited_ms) + " ms)";
}

RxResult RxLog::feed(std::uint8_t byte, std::int64_t ms) {
    RxResult out;
    out.lines.push_back(rx_line(byte, ms));

    if (pending_since_) {
        const std::int64_t gap = ms - *pending_since_;
        pending_since_.reset();
        if (gap <= window_ms_) {
            out.turn_off = TurnOff{byte, gap, ms};
            out.lines.push_back("CMD " + std::to_string(ms) + " TURN-OFF \"%\" + m=" + std::to_string(byte) +
                                " (gap " + std::to_string(gap) + " ms)");
            return out;
        }
        out.lines.push_back(incomplete_line(ms, gap));
        // fall through: the late byte stands on its own
    }

    if (byte == kTurnOffByte) {
        pending_since_ = ms;
    } else if (auto name = command_name(byte); !name.empty()) {
        out.lines.push_back("CMD " + std::to_string(ms) + " " + std::string(name) + " \"" +
                            static_cast<char>(byte) + "\"");
    }
    return out;
}

std::vector<std::string> RxLog::finish(std::int64_t ms) {
    std::vector<std::string> lines;
    if (pending_since_) {
        lines.push_back(incomplete_line(ms, ms - *pending_since_));
        pending_since_.reset();
    }
    return lines;
}

}  // namespace upssim
