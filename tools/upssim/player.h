// upssim: plays scenario steps against a clock.
//
// The player owns the timing: frame intervals, split gaps, waits and the
// expect-turnoff timeout. It does no I/O itself; bytes to send and log
// lines go to a PlayerOutput, and the caller passes the current time in
// milliseconds. That way the event loop can poll() in between and the
// timing can be checked without a serial port.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upssim/frame.h"
#include "upssim/rxlog.h"
#include "upssim/scenario.h"

namespace upssim {

class PlayerOutput {
public:
    virtual ~PlayerOutput() = default;
    // Send bytes to the monitor (one write; logged as TX by the output).
    virtual void send(const std::vector<std::uint8_t>& bytes, std::int64_t now_ms) = 0;
    // A log line: `tag` is STEP or EXPECT, `text` what follows the time.
    virtual void event(std::string_view tag, std::int64_t now_ms, const std::string& text) = 0;
};

struct PlayerSettings {
    Kind kind = Kind::Amp;
    FrameFields fields;      // starting values, as if given with "set"
    unsigned every_ms = 1000;  // starting "every"
    std::uint64_t seed = 1;  // for noise
};

class Player {
public:
    Player(const PlayerSettings& settings, PlayerOutput& out);

    void add(Step step);
    // Turn-off commands received; each satisfies one expect-turnoff.
    void turn_off_received(const TurnOff& t);

    // Does everything due at `now`. Returns when it next needs to run, or
    // nothing when it has no more steps to play (see idle()).
    std::optional<std::int64_t> advance(std::int64_t now);

    bool quit_requested() const { return quit_; }
    // No step running and none queued.
    bool idle() const;

private:
    struct FrameRun {
        FrameFields fields;
        std::uint64_t remaining;
        std::int64_t interval_ms;
        std::int64_t next_due;
    };
    struct PendingBytes {
        std::vector<std::uint8_t> bytes;
        std::int64_t due;
    };
    struct Expect {
        std::int64_t started;
        std::int64_t deadline;
        unsigned timeout;
    };

    void start(const Step& step, std::int64_t now);
    void send_frame(const FrameFields& fields, std::int64_t now);

    PlayerOutput& out_;
    Kind kind_;
    FrameFields fields_;
    unsigned every_ms_;
    NoiseGenerator noise_;
    std::deque<Step> queue_;
    std::deque<TurnOff> turnoffs_;
    std::optional<SplitStep> split_;
    std::optional<PendingBytes> split_rest_;
    std::optional<FrameRun> frames_;
    std::optional<std::int64_t> wait_until_;
    std::optional<Expect> expect_;
    bool quit_ = false;
};

}  // namespace upssim
