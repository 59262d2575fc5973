#include "send_keys.h"

#include <cmath>
#include <optional>
#include <vector>

namespace corva {
namespace {

// The key-name table, in the order it is filled.
struct KeyName {
  const char* name;
  std::int32_t code;
};
constexpr KeyName kKeyNames[] = {
    {"BACKSPACE", 8}, {"BS", 8},        {"BKSP", 8},         {"BREAK", 19},  {"CAPSLOCK", 20},
    {"DELETE", 46},   {"DEL", 46},      {"DOWN", 40},        {"END", 35},    {"ENTER", 13},
    {"~", 13},        {"ESC", 27},      {"HELP", 47},        {"HOME", 36},   {"INS", 45},
    {"INSERT", 45},   {"LEFT", 37},     {"NUMLOCK", 144},    {"PGDN", 34},   {"PGUP", 33},
    {"PRTSC", 42},    {"RIGHT", 39},    {"SCROLLLOCK", 145}, {"TAB", 9},     {"UP", 38},
    {"F1", 112},      {"F2", 113},      {"F3", 114},         {"F4", 115},    {"F5", 116},
    {"F6", 117},      {"F7", 118},      {"F8", 119},         {"F9", 120},    {"F10", 121},
    {"F11", 122},     {"F12", 123},     {"F13", 124},        {"F14", 125},   {"F15", 126},
    {"F16", 127},
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// UTF-8 to UTF-16. A byte that does not begin a well-formed sequence becomes U+FFFD on its own:
// an over-long form, an encoded surrogate or a code point past U+10FFFF is no character, so that
// no byte sequence can read as "{", ")" or any other character it does not spell.
std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      n = 3;
    } else if ((b & 0xF8) == 0xF0) {
      n = 4;
    }
    if (n > 1) {
      if (i + n > utf8.size()) {
        n = 1;
      } else {
        cp = b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
          const auto cont = static_cast<unsigned char>(utf8[i + k]);
          if ((cont & 0xC0) != 0x80) {
            cp = 0xFFFD;
            n = 1;
            break;
          }
          cp = (cp << 6) | (cont & 0x3F);
        }
        constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (n > 1 && (cp < kShortest[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) {
          cp = 0xFFFD;
          n = 1;
        }
      }
    }
    i += n;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    std::uint32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// A repetitions text that reads as a number: blanks around it, an optional sign, digits with an
// optional fraction. The count is rounded half to even; a count above kMaxKeyRepetitions is no
// count (it would keep the keyboard busy for hours), and neither is one that does not fit.
std::optional<std::int32_t> RepetitionCount(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  text = text.substr(b, e - b);
  if (text.empty()) return std::nullopt;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    ++i;
  }
  double value = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      value += (text[i] - '0') * scale;
      scale /= 10;
      digits = true;
    }
  }
  if (!digits || i != text.size()) return std::nullopt;
  if (negative) value = -value;
  const double rounded = std::nearbyint(value);  // the default rounding mode: half to even
  if (rounded < -2147483648.0 || rounded > kMaxKeyRepetitions) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

std::string PositionText(std::size_t pos) {
  return std::to_string(pos);
}

std::uint8_t ModifierKey(char16_t c) {
  return c == u'+' ? kVkShift : c == u'^' ? kVkControl : kVkMenu;
}

}  // namespace

cSendKeys::cSendKeys(KeyboardApi& keyboard, std::string program)
    : keyboard_(keyboard), program_(std::move(program)) {
  for (const auto& [name, code] : kKeyNames) key_names_.emplace(name, code);
}

std::int32_t cSendKeys::NamedKey(std::string_view name) const {
  const auto it = key_names_.find(Upper(name));
  return it == key_names_.end() ? 0 : it->second;
}

void cSendKeys::KeyDown(std::int32_t vKey) {
  keyboard_.KeybdEvent(static_cast<std::uint8_t>(vKey), kKeyEventExtended);
}

void cSendKeys::KeyUp(std::int32_t vKey) {
  keyboard_.KeybdEvent(static_cast<std::uint8_t>(vKey), kKeyEventExtended | kKeyEventUp);
}

std::int32_t cSendKeys::KeyCode(std::string_view sChar) {
  std::int16_t answer = -1;
  if (keyboard_.GetVersion() < 0) {
    const std::string ansi = keyboard_.ToAnsi(sChar);
    answer = keyboard_.VkKeyScanA(ansi.empty() ? '\0' : ansi[0]);
  } else {
    const std::u16string wide = ToUtf16(sChar);
    answer = keyboard_.VkKeyScanW(wide.empty() ? u'\0' : wide[0]);
  }
  // Only the key; the shift state in the high byte is dropped.
  return static_cast<std::uint16_t>(answer) & 0xFF;
}

void cSendKeys::KeyPress(std::string_view sKey, std::int32_t lCount) {
  std::int32_t code = NamedKey(sKey);
  if (code == 0 && !sKey.empty()) code = KeyCode(sKey);
  if (code == 0) {
    throw CorvaError(kKeyNotInterpreted, Source(),
                     "Key " + std::string(sKey) + " could not be interpreted.");
  }
  for (std::int32_t i = 0; i < lCount; ++i) {
    KeyDown(code);
    KeyUp(code);
  }
}

std::u16string cSendKeys::CharAfter(std::u16string_view text, std::int32_t position,
                                    std::int32_t length) {
  if (length == 0) length = static_cast<std::int32_t>(text.size());
  if (position < 0 || length < position + 1) return {};
  const auto index = static_cast<std::size_t>(position);  // position + 1, 1-based
  if (index >= text.size()) return {};
  return std::u16string(1, text[index]);
}

void cSendKeys::SyntaxError(const std::string& description) const {
  throw CorvaError(kSendKeysSyntax, Source(), description);
}

void cSendKeys::SendKeys(std::string_view sKeys, bool /*Wait*/) {
  const std::u16string keys = ToUtf16(sKeys);
  const std::size_t len = keys.size();
  std::vector<char16_t> groups;  // modifiers whose "(" is open, last opened at the back
  try {
    std::size_t pos = 1;
    while (pos <= len) {
      const char16_t c = keys[pos - 1];
      if (c == u'+' || c == u'^' || c == u'%') {
        if (CharAfter(keys, static_cast<std::int32_t>(pos), static_cast<std::int32_t>(len)) ==
            u"(") {
          groups.push_back(c);
          KeyDown(ModifierKey(c));
          pos += 2;
        } else {
          // A lone modifier does not modify the key after it.
          KeyDown(ModifierKey(c));
          KeyUp(ModifierKey(c));
          pos += 1;
        }
      } else if (c == u'~') {
        KeyDown(kVkReturn);
        KeyUp(kVkReturn);
        pos += 1;
      } else if (c == u')') {
        if (groups.empty()) {
          SyntaxError("Invalid sendkeys command: unmatched ) at position " + PositionText(pos));
        }
        KeyUp(ModifierKey(groups.back()));
        groups.pop_back();
        pos += 1;
      } else if (c == u'{') {
        if (pos + 2 > len) {
          SyntaxError(
              "Invalid sendkeys command; opening { without content or closing } at position " +
              PositionText(pos));
        }
        // The first "}" from the second character on, so that {}} names the key "}".
        const std::size_t close = keys.find(u'}', pos + 1);  // 0-based index of pos + 2
        if (close == std::u16string::npos) {
          SyntaxError("Invalid sendkeys command; opening { without closing } at position " +
                      PositionText(pos));
        }
        const std::u16string content = keys.substr(pos, close - pos);
        pos = close + 2;  // past the "}", 1-based
        const std::size_t blank = content.find(u' ');
        if (blank == std::u16string::npos) {
          KeyPress(ToUtf8(content), 1);
        } else {
          const std::string repetitions = ToUtf8(content.substr(blank + 1));
          const auto count = RepetitionCount(repetitions);
          if (!count) {
            SyntaxError("Invalid sendkeys command; key repetitions '" + repetitions +
                        "' is invalid near position " + PositionText(pos));
          }
          KeyPress(ToUtf8(content.substr(0, blank)), *count);
        }
      } else {
        std::size_t units = 1;
        // Keep a surrogate pair whole.
        if (c >= 0xD800 && c <= 0xDBFF && pos < len && keys[pos] >= 0xDC00 && keys[pos] <= 0xDFFF) {
          units = 2;
        }
        KeyPress(ToUtf8(keys.substr(pos - 1, units)), 1);
        pos += units;
      }
    }
    if (!groups.empty()) {
      SyntaxError("Invalid sendkeys command: more open brackets than close brackets.");
    }
  } catch (const CorvaError& error) {
    // Modifiers still held are let go, the last one pressed first.
    while (!groups.empty()) {
      KeyUp(ModifierKey(groups.back()));
      groups.pop_back();
    }
    throw CorvaError(error.Number(), Source(), error.Description());
  }
}

}  // namespace corva
