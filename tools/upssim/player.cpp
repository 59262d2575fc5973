#include "upssim/player.h"

#include <algorithm>
#include <type_traits>
#include <variant>

namespace upssim {

Player::Player(const PlayerSettings& s, PlayerOutput& out)
    : out_(out), kind_(s.kind), fields_(s.fields), every_ms_(s.every_ms), noise_(s.seed) {}

void Player::add(Step step) { queue_.push_back(std::move(step)); }

void Player::turn_off_received(const TurnOff& t) { turnoffs_.push_back(t); }

bool Player::idle() const {
    return queue_.empty() && !split_rest_ && !frames_ && !wait_until_ && !expect_;
}

std::optional<std::int64_t> Player::advance(std::int64_t now) {
    while (!quit_) {
        // The second half of a split frame goes before anything else.
        if (split_rest_) {
            if (now < split_rest_->due) return split_rest_->due;
            out_.send(split_rest_->bytes, now);
            split_rest_.reset();
            continue;
        }
        if (frames_) {
            if (now < frames_->next_due) return frames_->next_due;
            if (frames_->remaining == 0) {  // the last frame's interval is over
                frames_.reset();
                continue;
            }
            send_frame(frames_->fields, now);
            if (frames_->remaining != kRepeatForever) --frames_->remaining;
            frames_->next_due = std::max(frames_->next_due + frames_->interval_ms, now);
            // Hand control back after every frame, even with interval 0, so
            // the event loop still gets to receive bytes and signals.
            return split_rest_ ? std::min(split_rest_->due, frames_->next_due) : frames_->next_due;
        }
        if (wait_until_) {
            if (now < *wait_until_) return *wait_until_;
            wait_until_.reset();
            continue;
        }
        if (expect_) {
            if (!turnoffs_.empty()) {
                const TurnOff t = turnoffs_.front();
                turnoffs_.pop_front();
                const std::int64_t waited = std::max<std::int64_t>(0, t.received_ms - expect_->started);
                out_.event("EXPECT", now,
                           "TURN-OFF ok m=" + std::to_string(t.minutes) + " (waited " + std::to_string(waited) +
                               " ms)");
                expect_.reset();
                continue;
            }
            if (now < expect_->deadline) return expect_->deadline;
            out_.event("EXPECT", now, "TURN-OFF timeout after " + std::to_string(expect_->timeout) + " ms");
            expect_.reset();
            continue;
        }
        if (queue_.empty()) return std::nullopt;
        const Step step = std::move(queue_.front());
        queue_.pop_front();
        start(step, now);
    }
    return std::nullopt;
}

void Player::start(const Step& step, std::int64_t now) {
    if (step.line > 0) out_.event("STEP", now, "line " + std::to_string(step.line) + ": " + step.source);
    std::visit(
        [&](const auto& a) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, KindStep>) {
                kind_ = a.kind;
            } else if constexpr (std::is_same_v<T, SetStep>) {
                fields_.merge(a.fields);
            } else if constexpr (std::is_same_v<T, FrameStep>) {
                FrameFields f = fields_;
                f.merge(a.fields);
                frames_ = FrameRun{f, a.repeat, a.interval_ms.value_or(every_ms_), now};
            } else if constexpr (std::is_same_v<T, NoiseStep>) {
                out_.send(noise_.next(a.count), now);
            } else if constexpr (std::is_same_v<T, RawStep>) {
                out_.send(a.bytes, now);
            } else if constexpr (std::is_same_v<T, SplitStep>) {
                split_ = a;
            } else if constexpr (std::is_same_v<T, WaitStep>) {
                wait_until_ = now + a.ms;
            } else if constexpr (std::is_same_v<T, EveryStep>) {
                every_ms_ = a.ms;
            } else if constexpr (std::is_same_v<T, ExpectTurnOffStep>) {
                expect_ = Expect{now, now + a.timeout_ms, a.timeout_ms};
            } else if constexpr (std::is_same_v<T, QuitStep>) {
                quit_ = true;
            }
        },
        step.action);
}

void Player::send_frame(const FrameFields& fields, std::int64_t now) {
    if (fields.noise.value_or(0) > 0) out_.send(noise_.next(*fields.noise), now);
    auto frame = build_frame(kind_, fields);
    if (split_) {
        // A split point at or past the end just sends the frame whole.
        if (split_->first < frame.size()) {
            split_rest_ = PendingBytes{{frame.begin() + static_cast<std::ptrdiff_t>(split_->first), frame.end()}, now + split_->gap_ms};
            frame.resize(split_->first);
        }
        split_.reset();
    }
    out_.send(frame, now);
}

}  // namespace upssim
