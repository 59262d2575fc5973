#include "upssim/scenario.h"

#include <cctype>
#include <charconv>

namespace upssim {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

// Cuts the line at a '#' that starts a word, ignoring '#' inside quotes.
std::string_view strip_comment(std::string_view s) {
    bool quoted = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '#' && (i == 0 || is_space(s[i - 1]))) {
            return s.substr(0, i);
        }
    }
    return s;
}

std::vector<std::string_view> split_words(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && is_space(s[i])) ++i;
        const std::size_t start = i;
        while (i < s.size() && !is_space(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses "..." with C-like escapes. `s` must start at the opening quote.
std::vector<std::uint8_t> parse_quoted(std::string_view s, int line) {
    if (s.empty() || s.front() != '"') throw ParseError(line, "text needs a quoted string, e.g. text \"hello\"");
    std::vector<std::uint8_t> out;
    std::size_t i = 1;
    for (; i < s.size() && s[i] != '"'; ++i) {
        char c = s[i];
        if (c != '\\') {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        if (++i >= s.size()) break;
        switch (s[i]) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case '0': out.push_back(0); break;
            case '\\': out.push_back('\\'); break;
            case '"': out.push_back('"'); break;
            case 'x': {
                const int hi = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
                const int lo = i + 2 < s.size() ? hex_digit(s[i + 2]) : -1;
                if (hi < 0 || lo < 0) throw ParseError(line, "\\x needs two hex digits");
                out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
                i += 2;
                break;
            }
            default: throw ParseError(line, std::string("unknown escape \\") + s[i]);
        }
    }
    if (i >= s.size()) throw ParseError(line, "missing closing quote");
    if (!trim(s.substr(i + 1)).empty()) throw ParseError(line, "unexpected text after the closing quote");
    return out;
}

std::optional<std::uint8_t> parse_hex_byte(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.remove_prefix(2);
    if (word.empty() || word.size() > 2) return std::nullopt;
    unsigned v = 0;
    for (char c : word) {
        const int d = hex_digit(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return static_cast<std::uint8_t>(v);
}

unsigned need_number(std::string_view word, unsigned long long min, unsigned long long max, int line,
                     std::string_view what) {
    const auto v = parse_number(word, max);
    if (!v || *v < min) {
        throw ParseError(line, std::string(what) + " must be a number from " + std::to_string(min) + " to " +
                                   std::to_string(max) + ", got '" + std::string(word) + "'");
    }
    return static_cast<unsigned>(*v);
}

// Exactly one positional argument.
std::string_view single_arg(const std::vector<std::string_view>& args, int line, std::string_view command) {
    if (args.size() != 1) throw ParseError(line, std::string(command) + " takes exactly one value");
    return args[0];
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> split_key_value(std::string_view word) {
    const auto eq = word.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    return KeyValue{word.substr(0, eq), word.substr(eq + 1)};
}

// Fills `fields` from KEY=VALUE words. Keys handled by `extra` (if given)
// are passed to it first.
template <typename Extra>
FrameFields parse_fields(const std::vector<std::string_view>& args, int line, std::string_view command,
                         Extra&& extra) {
    FrameFields fields;
    std::vector<std::string> seen;
    for (auto word : args) {
        const auto kv = split_key_value(word);
        if (!kv) throw ParseError(line, std::string(command) + ": expected KEY=VALUE, got '" + std::string(word) + "'");
        // battery and vbyte are the same value under two names
        const std::string canonical = kv->key == "vbyte" ? "battery" : std::string(kv->key);
        for (const auto& s : seen) {
            if (s == canonical) {
                throw ParseError(line, std::string(command) + ": " + std::string(kv->key) +
                                           (canonical == "battery" ? " (battery and vbyte are the same byte)" : "") +
                                           " given twice");
            }
        }
        seen.push_back(canonical);
        if (extra(kv->key, kv->value)) continue;
        if (auto err = apply_field(fields, kv->key, kv->value)) throw ParseError(line, std::string(command) + ": " + *err);
    }
    return fields;
}

}  // namespace

ParseError::ParseError(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line), detail_(message) {}

std::optional<unsigned long long> parse_number(std::string_view text, unsigned long long max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return std::nullopt;
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return std::nullopt;
    return v;
}

std::optional<std::uint8_t> parse_char(std::string_view text) {
    if (text.size() == 1) return static_cast<std::uint8_t>(text[0]);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (auto v = parse_number(text, 255)) return static_cast<std::uint8_t>(*v);
    }
    return std::nullopt;
}

std::optional<std::string> apply_field(FrameFields& fields, std::string_view key, std::string_view value) {
    auto number = [&](std::optional<unsigned>& slot, unsigned long long max) -> std::optional<std::string> {
        const auto v = parse_number(value, max);
        if (!v) {
            return std::string(key) + " must be a number from 0 to " + std::to_string(max) + ", got '" +
                   std::string(value) + "'";
        }
        slot = static_cast<unsigned>(*v);
        return std::nullopt;
    };
    auto character = [&](std::optional<std::uint8_t>& slot) -> std::optional<std::string> {
        const auto c = parse_char(value);
        if (!c) return std::string(key) + " must be one character or 0xNN, got '" + std::string(value) + "'";
        slot = *c;
        return std::nullopt;
    };
    if (key == "volt") return number(fields.volt, kMaxReading);
    if (key == "period") return number(fields.period, kMaxReading);
    if (key == "battery" || key == "vbyte") return number(fields.battery, 255);
    if (key == "noise") return number(fields.noise, kMaxNoise);
    if (key == "line") return character(fields.line);
    if (key == "mode") return character(fields.mode);
    return "unknown key '" + std::string(key) + "'";
}

std::optional<Step> parse_line(std::string_view text, int line) {
    const std::string_view body = trim(strip_comment(text));
    if (body.empty()) return std::nullopt;

    std::size_t cmd_end = 0;
    while (cmd_end < body.size() && !is_space(body[cmd_end])) ++cmd_end;
    const std::string_view cmd = body.substr(0, cmd_end);
    const std::string_view rest = trim(body.substr(cmd_end));
    const auto args = split_words(rest);
    auto no_extra = [](std::string_view, std::string_view) { return false; };

    Step step{line, std::string(body), QuitStep{}};

    if (cmd == "kind") {
        const auto kind = parse_kind(single_arg(args, line, cmd));
        if (!kind) throw ParseError(line, "kind must be amp or star, got '" + std::string(args[0]) + "'");
        step.action = KindStep{*kind};
    } else if (cmd == "set") {
        if (args.empty()) throw ParseError(line, "set needs at least one KEY=VALUE");
        step.action = SetStep{parse_fields(args, line, cmd, no_extra)};
    } else if (cmd == "frame") {
        FrameStep f;
        f.fields = parse_fields(args, line, cmd, [&](std::string_view key, std::string_view value) {
            if (key == "repeat") {
                f.repeat = need_number(value, 1, 1'000'000'000, line, "repeat");
                return true;
            }
            if (key == "interval") {
                f.interval_ms = need_number(value, 0, kMaxMs, line, "interval");
                return true;
            }
            return false;
        });
        step.action = f;
    } else if (cmd == "noise") {
        step.action = NoiseStep{need_number(single_arg(args, line, cmd), 1, kMaxNoise, line, "noise")};
    } else if (cmd == "bytes") {
        if (args.empty()) throw ParseError(line, "bytes needs at least one hex byte");
        RawStep raw;
        for (auto word : args) {
            const auto b = parse_hex_byte(word);
            if (!b) throw ParseError(line, "'" + std::string(word) + "' is not a hex byte (like 26 or 0x2A)");
            raw.bytes.push_back(*b);
        }
        step.action = raw;
    } else if (cmd == "text") {
        auto bytes = parse_quoted(rest, line);
        if (bytes.empty()) throw ParseError(line, "text is empty");
        step.action = RawStep{std::move(bytes)};
    } else if (cmd == "split") {
        if (args.empty() || args.size() > 2) throw ParseError(line, "usage: split K [gap=MS]");
        SplitStep s{need_number(args[0], 1, 64, line, "split"), kDefaultSplitGapMs};
        if (args.size() == 2) {
            const auto kv = split_key_value(args[1]);
            if (!kv || kv->key != "gap") throw ParseError(line, "usage: split K [gap=MS]");
            s.gap_ms = need_number(kv->value, 0, kMaxMs, line, "gap");
        }
        step.action = s;
    } else if (cmd == "wait") {
        step.action = WaitStep{need_number(single_arg(args, line, cmd), 0, kMaxMs, line, "wait")};
    } else if (cmd == "every") {
        step.action = EveryStep{need_number(single_arg(args, line, cmd), 0, kMaxMs, line, "every")};
    } else if (cmd == "expect-turnoff") {
        step.action = ExpectTurnOffStep{need_number(single_arg(args, line, cmd), 0, kMaxMs, line, "expect-turnoff")};
    } else if (cmd == "quit") {
        if (!args.empty()) throw ParseError(line, "quit takes no values");
        step.action = QuitStep{};
    } else {
        throw ParseError(line, "unknown command '" + std::string(cmd) + "'");
    }
    return step;
}

std::vector<Step> parse_scenario(std::string_view text) {
    std::vector<Step> steps;
    int line = 0;
    while (!text.empty()) {
        ++line;
        const auto nl = text.find('\n');
        const auto current = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (auto step = parse_line(current, line)) steps.push_back(std::move(*step));
    }
    return steps;
}

IncrementalParser::Outcome IncrementalParser::parse_one(std::string_view text) {
    Outcome out;
    out.line = ++line_no_;
    try {
        out.step = parse_line(text, out.line);
    } catch (const ParseError& e) {
        out.error = e.what();
    }
    return out;
}

std::vector<IncrementalParser::Outcome> IncrementalParser::feed(std::string_view chunk) {
    std::vector<Outcome> out;
    partial_.append(chunk);
    std::size_t start = 0;
    for (auto nl = partial_.find('\n'); nl != std::string::npos; nl = partial_.find('\n', start)) {
        out.push_back(parse_one(std::string_view(partial_).substr(start, nl - start)));
        start = nl + 1;
    }
    partial_.erase(0, start);
    return out;
}

std::vector<IncrementalParser::Outcome> IncrementalParser::finish() {
    std::vector<Outcome> out;
    if (!partial_.empty()) {
        out.push_back(parse_one(partial_));
        partial_.clear();
    }
    return out;
}

}  // namespace upssim
