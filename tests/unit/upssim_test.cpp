// Unit tests for upssim's frame building, scenario parser and receive log.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "upssim/frame.h"
#include "upssim/player.h"
#include "upssim/rxlog.h"
#include "upssim/scenario.h"

namespace {

using namespace upssim;
using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------ split255

TEST(UpssimSplit255, KnownReadings) {
    EXPECT_EQ(split255(15300), (HighLow{60, 0}));
    EXPECT_EQ(split255(16667), (HighLow{65, 92}));
    EXPECT_EQ(split255(14400), (HighLow{56, 120}));
    EXPECT_EQ(split255(254), (HighLow{0, 254}));
    EXPECT_EQ(split255(255), (HighLow{1, 0}));
    EXPECT_EQ(split255(256), (HighLow{1, 1}));
}

TEST(UpssimSplit255, RecombinesWithMultiplier255) {
    for (unsigned r = 0; r <= kMaxReading; r += 7) {
        const auto hl = split255(r);
        ASSERT_LT(hl.low, 255) << r;
        ASSERT_EQ(hl.high * 255u + hl.low, r) << r;
    }
}

TEST(UpssimSplit255, ClampsAboveLargestReading) {
    EXPECT_EQ(split255(kMaxReading), (HighLow{255, 254}));
    EXPECT_EQ(split255(kMaxReading + 1), (HighLow{255, 254}));
    EXPECT_EQ(split255(70000), (HighLow{255, 254}));
}

// ------------------------------------------------------------ frames

TEST(UpssimFrame, AmpDefaults) {
    EXPECT_EQ(build_frame(Kind::Amp, {}), (Bytes{0x26, 0x26, 0x26, 56, 120, 200, 65, 92, '0', '0'}));
}

TEST(UpssimFrame, AmpCarriesEveryField) {
    FrameFields f;
    f.volt = 15300;
    f.battery = 17;
    f.period = 20000;  // 78 * 255 + 110
    f.line = '3';
    f.mode = '2';
    EXPECT_EQ(build_frame(Kind::Amp, f), (Bytes{0x26, 0x26, 0x26, 60, 0, 17, 78, 110, '3', '2'}));
}

TEST(UpssimFrame, StarDefaultsPutLineStatusInSharedByte) {
    EXPECT_EQ(build_frame(Kind::Star, {}), (Bytes{0x2A, 0x2A, 0x2A, 0, 200, 0, 65, '0', '0'}));
}

TEST(UpssimFrame, StarSharedByteFollowsWhatWasGiven) {
    FrameFields period_only;
    period_only.period = 16667;
    EXPECT_EQ(build_frame(Kind::Star, period_only)[7], 92);

    FrameFields line_only;
    line_only.line = '1';
    EXPECT_EQ(build_frame(Kind::Star, line_only)[7], '1');

    FrameFields both = period_only;
    both.line = '2';
    const auto frame = build_frame(Kind::Star, both);
    EXPECT_EQ(frame[6], 65);   // period high still there
    EXPECT_EQ(frame[7], '2');  // line status wins
}

TEST(UpssimFrame, StarBatteryIsByteFourAndVoltIsIgnored) {
    FrameFields f;
    f.battery = 123;
    f.volt = 15300;
    f.mode = '1';
    EXPECT_EQ(build_frame(Kind::Star, f), (Bytes{0x2A, 0x2A, 0x2A, 0, 123, 0, 65, '0', '1'}));
}

TEST(UpssimFrame, LengthsMatchKinds) {
    EXPECT_EQ(build_frame(Kind::Amp, {}).size(), frame_length(Kind::Amp));
    EXPECT_EQ(build_frame(Kind::Star, {}).size(), frame_length(Kind::Star));
    EXPECT_EQ(frame_length(Kind::Amp), 10u);
    EXPECT_EQ(frame_length(Kind::Star), 9u);
}

TEST(UpssimFrame, MergeOverridesOnlyGivenValues) {
    FrameFields base;
    base.volt = 1000;
    base.battery = 50;
    base.line = '1';
    FrameFields over;
    over.battery = 60;
    over.mode = '1';
    base.merge(over);
    EXPECT_EQ(base.volt, 1000u);
    EXPECT_EQ(base.battery, 60u);
    EXPECT_EQ(base.line, '1');
    EXPECT_EQ(base.mode, '1');
    EXPECT_FALSE(base.period.has_value());
}

TEST(UpssimFrame, HexAndCommandNames) {
    EXPECT_EQ(hex_bytes(Bytes{0x26, 0x0A, 0xFF}), "26 0A FF");
    EXPECT_EQ(hex_bytes(Bytes{}), "");
    EXPECT_EQ(command_name('A'), "ALARM-ON");
    EXPECT_EQ(command_name('a'), "ALARM-OFF");
    EXPECT_EQ(command_name('~'), "SELF-TEST");
    EXPECT_TRUE(command_name('%').empty());
    EXPECT_TRUE(command_name('B').empty());
    EXPECT_EQ(parse_kind("amp"), Kind::Amp);
    EXPECT_EQ(parse_kind("star"), Kind::Star);
    EXPECT_FALSE(parse_kind("Amp").has_value());
}

// ------------------------------------------------------------ noise

TEST(UpssimNoise, NeverHeaderBytesButEverythingElse) {
    NoiseGenerator gen(42);
    const auto bytes = gen.next(200000);
    std::set<std::uint8_t> seen(bytes.begin(), bytes.end());
    EXPECT_EQ(seen.count('&'), 0u);
    EXPECT_EQ(seen.count('*'), 0u);
    EXPECT_EQ(seen.size(), 254u);  // all other values do turn up
}

TEST(UpssimNoise, SeedDecidesTheStream) {
    NoiseGenerator a(7), b(7), c(8);
    const auto first = a.next(64);
    EXPECT_EQ(first, b.next(64));
    EXPECT_NE(first, c.next(64));
    // a stream continues across calls
    NoiseGenerator whole(7);
    auto more = a.next(16);
    Bytes joined = first;
    joined.insert(joined.end(), more.begin(), more.end());
    EXPECT_EQ(joined, whole.next(80));
}

// ------------------------------------------------------------ rx log

TEST(UpssimRxLog, EveryByteGetsAnRxLine) {
    EXPECT_EQ(rx_line('%', 12), "RX 12 0x25 '%'");
    EXPECT_EQ(rx_line(0x05, 0), "RX 0 0x05");
    EXPECT_EQ(rx_line(0xFF, 99999), "RX 99999 0xFF");

    RxLog rx;
    const auto r = rx.feed('x', 5);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"RX 5 0x78 'x'"}));
    EXPECT_FALSE(r.turn_off.has_value());
}

TEST(UpssimRxLog, SingleByteCommandsAreNamed) {
    RxLog rx;
    EXPECT_EQ(rx.feed('A', 10).lines, (std::vector<std::string>{"RX 10 0x41 'A'", "CMD 10 ALARM-ON \"A\""}));
    EXPECT_EQ(rx.feed('a', 11).lines, (std::vector<std::string>{"RX 11 0x61 'a'", "CMD 11 ALARM-OFF \"a\""}));
    EXPECT_EQ(rx.feed('~', 12).lines, (std::vector<std::string>{"RX 12 0x7E '~'", "CMD 12 SELF-TEST \"~\""}));
}

TEST(UpssimRxLog, TurnOffReportedWithMinutesAndGap) {
    RxLog rx;
    const auto first = rx.feed('%', 1000);
    EXPECT_EQ(first.lines, (std::vector<std::string>{"RX 1000 0x25 '%'"}));
    EXPECT_FALSE(first.turn_off.has_value());
    EXPECT_TRUE(rx.turnoff_pending());

    const auto second = rx.feed(5, 2203);
    ASSERT_EQ(second.lines.size(), 2u);
    EXPECT_EQ(second.lines[0], "RX 2203 0x05");
    EXPECT_EQ(second.lines[1], "CMD 2203 TURN-OFF \"%\" + m=5 (gap 1203 ms)");
    EXPECT_EQ(second.turn_off, (TurnOff{5, 1203, 2203}));
    EXPECT_FALSE(rx.turnoff_pending());

    // after the command, bytes decode normally again
    EXPECT_EQ(rx.feed('A', 2300).lines.back(), "CMD 2300 ALARM-ON \"A\"");
}

TEST(UpssimRxLog, MinutesByteIsNeverTakenForACommand) {
    RxLog rx;
    rx.feed('%', 0);
    const auto r = rx.feed('A', 1200);  // 65 minutes, not alarm-on
    ASSERT_TRUE(r.turn_off.has_value());
    EXPECT_EQ(r.turn_off->minutes, 65u);
    EXPECT_EQ(r.lines.back(), "CMD 1200 TURN-OFF \"%\" + m=65 (gap 1200 ms)");

    rx.feed('%', 5000);
    const auto again = rx.feed('%', 5001);  // '%' as minutes: 37
    ASSERT_TRUE(again.turn_off.has_value());
    EXPECT_EQ(again.turn_off->minutes, 37u);
    EXPECT_FALSE(rx.turnoff_pending());
}

TEST(UpssimRxLog, LatePercentIsIncompleteAndNextByteStandsAlone) {
    RxLog rx(2000);
    rx.feed('%', 100);
    const auto r = rx.feed('A', 2101);
    EXPECT_FALSE(r.turn_off.has_value());
    EXPECT_EQ(r.lines, (std::vector<std::string>{"RX 2101 0x41 'A'",
                                                 "CMD 2101 INCOMPLETE \"%\" (no minutes byte after 2001 ms)",
                                                 "CMD 2101 ALARM-ON \"A\""}));
    // exactly at the window still counts
    rx.feed('%', 3000);
    EXPECT_TRUE(rx.feed(1, 5000).turn_off.has_value());
}

TEST(UpssimRxLog, FinishReportsDanglingPercentOnce) {
    RxLog rx;
    EXPECT_TRUE(rx.finish(10).empty());
    rx.feed('%', 100);
    EXPECT_EQ(rx.finish(400), (std::vector<std::string>{"CMD 400 INCOMPLETE \"%\" (no minutes byte after 300 ms)"}));
    EXPECT_TRUE(rx.finish(500).empty());
}

// ------------------------------------------------------------ player

struct Sent {
    std::int64_t at;
    Bytes bytes;
    bool operator==(const Sent&) const = default;
};

class RecordingOutput : public PlayerOutput {
public:
    void send(const Bytes& bytes, std::int64_t now) override { sent.push_back({now, bytes}); }
    void event(std::string_view tag, std::int64_t now, const std::string& text) override {
        events.push_back(std::string(tag) + " " + std::to_string(now) + " " + text);
    }
    std::vector<Sent> sent;
    std::vector<std::string> events;
};

// Drives a player the way the event loop does: jump to each deadline it asks
// for, until it has nothing left or `limit` is reached.
std::int64_t run_until_idle(Player& p, std::int64_t now = 0, std::int64_t limit = 1'000'000) {
    while (now <= limit) {
        const auto due = p.advance(now);
        if (!due || p.quit_requested()) return now;
        now = *due;
    }
    return now;
}

Player make_player(RecordingOutput& out, const std::string& script, PlayerSettings s = {}) {
    Player p(s, out);
    for (auto& step : parse_scenario(script)) p.add(std::move(step));
    return p;
}

const Bytes kAmpDefault = build_frame(Kind::Amp, {});

TEST(UpssimPlayer, RepeatedFramesKeepTheirInterval) {
    RecordingOutput out;
    Player p = make_player(out, "frame repeat=3 interval=500\ntext \"x\"\n");
    const auto end = run_until_idle(p);
    EXPECT_EQ(out.sent, (std::vector<Sent>{{0, kAmpDefault}, {500, kAmpDefault}, {1000, kAmpDefault}, {1500, {'x'}}}));
    EXPECT_EQ(end, 1500);
    EXPECT_TRUE(p.idle());
}

TEST(UpssimPlayer, EveryAndSettingsPersistOverridesDoNot) {
    RecordingOutput out;
    PlayerSettings s;
    s.every_ms = 100;
    s.fields.battery = 10;  // as from --battery
    Player p = make_player(out,
                           "frame\n"
                           "set battery=20 line=1\n"
                           "frame battery=99 mode=1\n"
                           "every 300\n"
                           "kind star\n"
                           "frame\n"
                           "frame\n",
                           s);
    run_until_idle(p);
    ASSERT_EQ(out.sent.size(), 4u);
    EXPECT_EQ(out.sent[0].bytes[5], 10);
    EXPECT_EQ(out.sent[1].at, 100);
    EXPECT_EQ(out.sent[1].bytes[5], 99);
    EXPECT_EQ(out.sent[1].bytes[8], '1');  // line from set
    EXPECT_EQ(out.sent[1].bytes[9], '1');  // mode override
    EXPECT_EQ(out.sent[2].at, 200);
    EXPECT_EQ(out.sent[2].bytes, (Bytes{0x2A, 0x2A, 0x2A, 0, 20, 0, 65, '1', '0'}));  // override gone
    EXPECT_EQ(out.sent[3].at, 500);  // new "every" applies
}

TEST(UpssimPlayer, SplitSendsRestAfterGapForOneFrameOnly) {
    RecordingOutput out;
    Player p = make_player(out, "split 4 gap=200\nframe repeat=2 interval=1000\nsplit 20\nframe interval=0\n");
    run_until_idle(p);
    const Bytes head(kAmpDefault.begin(), kAmpDefault.begin() + 4);
    const Bytes tail(kAmpDefault.begin() + 4, kAmpDefault.end());
    EXPECT_EQ(out.sent, (std::vector<Sent>{{0, head}, {200, tail}, {1000, kAmpDefault}, {2000, kAmpDefault}}));
}

TEST(UpssimPlayer, SplitRestGoesBeforeLaterSteps) {
    RecordingOutput out;
    Player p = make_player(out, "split 3 gap=50\nframe interval=0\nbytes 01\n");
    run_until_idle(p);
    ASSERT_EQ(out.sent.size(), 3u);
    EXPECT_EQ(out.sent[1].at, 50);
    EXPECT_EQ(out.sent[1].bytes.size(), kAmpDefault.size() - 3);
    EXPECT_EQ(out.sent[2], (Sent{50, {0x01}}));
}

TEST(UpssimPlayer, FrameNoiseComesFirstAndIsSeeded) {
    RecordingOutput a, b;
    PlayerSettings s;
    s.seed = 5;
    Player pa = make_player(a, "frame noise=6 interval=0\nnoise 4\n", s);
    Player pb = make_player(b, "frame noise=6 interval=0\nnoise 4\n", s);
    run_until_idle(pa);
    run_until_idle(pb);
    ASSERT_EQ(a.sent.size(), 3u);
    EXPECT_EQ(a.sent[0].bytes.size(), 6u);
    EXPECT_EQ(a.sent[1].bytes, kAmpDefault);
    EXPECT_EQ(a.sent[2].bytes.size(), 4u);
    EXPECT_EQ(a.sent, b.sent);
    NoiseGenerator gen(5);
    EXPECT_EQ(a.sent[0].bytes, gen.next(6));
}

TEST(UpssimPlayer, WaitBlocksFollowingSteps) {
    RecordingOutput out;
    Player p = make_player(out, "wait 750\nbytes 01\n");
    EXPECT_EQ(p.advance(0), 750);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(p.advance(749), 750);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_FALSE(p.advance(750).has_value());
    EXPECT_EQ(out.sent, (std::vector<Sent>{{750, {0x01}}}));
}

TEST(UpssimPlayer, ExpectTurnOffSucceedsTimesOutAndConsumes) {
    RecordingOutput out;
    Player p = make_player(out, "expect-turnoff 5000\nexpect-turnoff 1000\nbytes 02\n");
    EXPECT_EQ(p.advance(0), 5000);
    p.turn_off_received(TurnOff{5, 1200, 1300});
    EXPECT_EQ(p.advance(1300), 2300);  // first satisfied, second started
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(p.advance(2300), std::nullopt);
    EXPECT_EQ(out.sent, (std::vector<Sent>{{2300, {0x02}}}));
    EXPECT_EQ(out.events, (std::vector<std::string>{"STEP 0 line 1: expect-turnoff 5000",
                                                    "EXPECT 1300 TURN-OFF ok m=5 (waited 1300 ms)",
                                                    "STEP 1300 line 2: expect-turnoff 1000",
                                                    "EXPECT 2300 TURN-OFF timeout after 1000 ms",
                                                    "STEP 2300 line 3: bytes 02"}));
}

TEST(UpssimPlayer, TurnOffBeforeExpectStillCounts) {
    RecordingOutput out;
    Player p = make_player(out, "wait 100\nexpect-turnoff 5000\n");
    EXPECT_EQ(p.advance(0), 100);
    p.turn_off_received(TurnOff{2, 1000, 40});
    EXPECT_FALSE(p.advance(100).has_value());
    EXPECT_TRUE(p.idle());
    EXPECT_EQ(out.events.back(), "EXPECT 100 TURN-OFF ok m=2 (waited 0 ms)");
}

TEST(UpssimPlayer, QuitStopsEverything) {
    RecordingOutput out;
    Player p = make_player(out, "bytes 01\nquit\nbytes 02\n");
    p.advance(0);
    EXPECT_TRUE(p.quit_requested());
    EXPECT_EQ(out.sent, (std::vector<Sent>{{0, {0x01}}}));
    EXPECT_EQ(out.events.back(), "STEP 0 line 2: quit");
}

TEST(UpssimPlayer, EndlessLoopNeverGoesIdle) {
    RecordingOutput out;
    Player p({}, out);
    p.add(Step{0, "", FrameStep{{}, kRepeatForever, 250}});
    std::int64_t now = 0;
    for (int i = 0; i < 1000; ++i) now = p.advance(now).value();
    EXPECT_EQ(now, 250'000);
    EXPECT_EQ(out.sent.size(), 1000u);
    EXPECT_FALSE(p.idle());
    EXPECT_TRUE(out.events.empty());  // the built-in loop logs no STEP lines
}

// ------------------------------------------------------------ scenario

template <typename T>
const T& action_as(const Step& s) {
    const T* p = std::get_if<T>(&s.action);
    if (!p) throw std::runtime_error("line " + std::to_string(s.line) + " has another step type");
    return *p;
}

TEST(UpssimScenario, ParsesEveryCommand) {
    const std::string text =
        "# demo\n"
        "kind star\n"
        "\n"
        "set volt=15300 period=0x4000 battery=180 line=1 mode=0x31   # comment\n"
        "frame battery=90 repeat=20 interval=500\n"
        "frame vbyte=7\n"
        "noise 12\n"
        "bytes 26 0x2A ff\n"
        "text \"a#b \\\"q\\\"\\x01\\n\"\n"
        "split 4 gap=120\n"
        "split 3\n"
        "wait 2500\n"
        "every 250\n"
        "expect-turnoff 8000\n"
        "   quit\n";
    const auto steps = parse_scenario(text);
    ASSERT_EQ(steps.size(), 13u);

    EXPECT_EQ(steps[0].line, 2);
    EXPECT_EQ(action_as<KindStep>(steps[0]).kind, Kind::Star);

    EXPECT_EQ(steps[1].line, 4);
    EXPECT_EQ(steps[1].source, "set volt=15300 period=0x4000 battery=180 line=1 mode=0x31");
    const auto& set = action_as<SetStep>(steps[1]).fields;
    EXPECT_EQ(set.volt, 15300u);
    EXPECT_EQ(set.period, 0x4000u);
    EXPECT_EQ(set.battery, 180u);
    EXPECT_EQ(set.line, '1');
    EXPECT_EQ(set.mode, '1');
    EXPECT_FALSE(set.noise.has_value());

    const auto& frame = action_as<FrameStep>(steps[2]);
    EXPECT_EQ(frame.fields.battery, 90u);
    EXPECT_EQ(frame.repeat, 20u);
    EXPECT_EQ(frame.interval_ms, 500u);

    const auto& plain = action_as<FrameStep>(steps[3]);
    EXPECT_EQ(plain.fields.battery, 7u);  // vbyte is the battery value
    EXPECT_EQ(plain.repeat, 1u);
    EXPECT_FALSE(plain.interval_ms.has_value());

    EXPECT_EQ(action_as<NoiseStep>(steps[4]).count, 12u);
    EXPECT_EQ(action_as<RawStep>(steps[5]).bytes, (Bytes{0x26, 0x2A, 0xFF}));
    EXPECT_EQ(action_as<RawStep>(steps[6]).bytes, (Bytes{'a', '#', 'b', ' ', '"', 'q', '"', 0x01, '\n'}));
    EXPECT_EQ(action_as<SplitStep>(steps[7]), (SplitStep{4, 120}));
    EXPECT_EQ(action_as<SplitStep>(steps[8]), (SplitStep{3, kDefaultSplitGapMs}));
    EXPECT_EQ(action_as<WaitStep>(steps[9]).ms, 2500u);
    EXPECT_EQ(action_as<EveryStep>(steps[10]).ms, 250u);
    EXPECT_EQ(action_as<ExpectTurnOffStep>(steps[11]).timeout_ms, 8000u);
    EXPECT_EQ(steps[12].line, 15);
    EXPECT_TRUE(std::holds_alternative<QuitStep>(steps[12].action));
}

TEST(UpssimScenario, HashStartsACommentOnlyAtAWordStart) {
    const auto steps = parse_scenario("frame line=# mode=1 # status '#' on purpose\n");
    ASSERT_EQ(steps.size(), 1u);
    const auto& f = action_as<FrameStep>(steps[0]).fields;
    EXPECT_EQ(f.line, '#');
    EXPECT_EQ(f.mode, '1');
}

TEST(UpssimScenario, ErrorCarriesLineNumber) {
    try {
        parse_scenario("kind amp\n# fine\nframe\nfrme repeat=2\nquit\n");
        FAIL() << "no error";
    } catch (const ParseError& e) {
        EXPECT_EQ(e.line(), 4);
        EXPECT_NE(std::string(e.what()).find("line 4:"), std::string::npos);
        EXPECT_NE(e.detail().find("frme"), std::string::npos);
    }
}

TEST(UpssimScenario, RejectsBadLines) {
    const std::vector<std::string> bad = {
        "kind both",
        "kind",
        "set",
        "set volt=65280",        // above the largest reading
        "set battery=256",
        "set line=ab",
        "set colour=red",
        "set volt",
        "frame repeat=0",
        "frame battery=1 vbyte=2",  // same byte twice
        "frame volt=1 volt=2",
        "frame interval=-5",
        "noise 0",
        "noise",
        "bytes",
        "bytes 123",
        "bytes zz",
        "text hello",
        "text \"unterminated",
        "text \"x\" extra",
        "text \"\\q\"",
        "text \"\\x4\"",
        "split 0",
        "split 3 pause=10",
        "wait soon",
        "wait 1 2",
        "expect-turnoff",
        "quit now",
    };
    for (const auto& line : bad) {
        EXPECT_THROW(parse_line(line, 9), ParseError) << line;
    }
    EXPECT_FALSE(parse_line("   # only a comment", 1).has_value());
    EXPECT_FALSE(parse_line("\t \r", 1).has_value());
}

TEST(UpssimScenario, NumbersAndCharacters) {
    EXPECT_EQ(parse_number("65279", kMaxReading), 65279u);
    EXPECT_EQ(parse_number("0xFEFF", kMaxReading), 65279u);
    EXPECT_FALSE(parse_number("65280", kMaxReading).has_value());
    EXPECT_FALSE(parse_number("12a", 1000).has_value());
    EXPECT_FALSE(parse_number("0x", 1000).has_value());
    EXPECT_FALSE(parse_number("", 1000).has_value());
    EXPECT_EQ(parse_char("3"), '3');
    EXPECT_EQ(parse_char("0x00"), 0);
    EXPECT_FALSE(parse_char("0x100").has_value());
    EXPECT_FALSE(parse_char("12").has_value());

    FrameFields f;
    EXPECT_FALSE(apply_field(f, "vbyte", "33").has_value());
    EXPECT_EQ(f.battery, 33u);
    EXPECT_TRUE(apply_field(f, "battery", "300").has_value());
    EXPECT_EQ(f.battery, 33u);  // a rejected value leaves the old one
    EXPECT_TRUE(apply_field(f, "repeat", "3").has_value());
}

TEST(UpssimScenario, IncrementalParserHandlesChunksAndContinuesAfterErrors) {
    IncrementalParser p;
    EXPECT_TRUE(p.feed("fra").empty());  // no complete line yet
    auto out = p.feed("me battery=5\r\nwai");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].line, 1);
    ASSERT_TRUE(out[0].step.has_value());
    EXPECT_EQ(action_as<FrameStep>(*out[0].step).fields.battery, 5u);

    out = p.feed("t 10\nbogus\n\n# note\nquit");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(action_as<WaitStep>(*out[0].step).ms, 10u);
    EXPECT_EQ(out[1].line, 3);
    EXPECT_FALSE(out[1].step.has_value());
    EXPECT_NE(out[1].error.find("line 3"), std::string::npos);
    EXPECT_EQ(out[2].line, 4);
    EXPECT_TRUE(out[2].error.empty());
    EXPECT_FALSE(out[2].step.has_value());
    EXPECT_EQ(out[3].line, 5);

    out = p.finish();  // "quit" had no newline
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].line, 6);
    ASSERT_TRUE(out[0].step.has_value());
    EXPECT_TRUE(std::holds_alternative<QuitStep>(out[0].step->action));
    EXPECT_TRUE(p.finish().empty());
}

TEST(UpssimScenario, ExampleScenariosParse) {
    // The shipped examples must stay valid; read them relative to this file.
    const std::string dir = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) +
                            "/../../tools/upssim/scenarios/";
    for (const char* name : {"demo.txt", "noise.txt"}) {
        FILE* f = std::fopen((dir + name).c_str(), "rb");
        if (!f) GTEST_SKIP() << "sources not next to the test: " << dir;
        std::string text;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        std::fclose(f);
        std::vector<Step> steps;
        EXPECT_NO_THROW(steps = parse_scenario(text)) << name;
        EXPECT_GT(steps.size(), 3u) << name;
    }
}

}  // namespace
