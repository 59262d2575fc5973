#include "send_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace corva {
namespace {

using Events = std::vector<std::pair<int, int>>;  // (virtual key, keybd_event flags)

// A US layout for the characters the cases use: letters answer their capital's key, with the
// shift bit set for capitals; '}' is shift + 0xDD.
class RecordingKeyboard : public KeyboardApi {
 public:
  void KeybdEvent(std::uint8_t vk, std::uint32_t flags) override {
    events.emplace_back(vk, static_cast<int>(flags));
  }
  std::int32_t GetVersion() override { return version; }
  std::int16_t VkKeyScanA(char c) override {
    ansi_scans.push_back(c);
    return Scan(static_cast<unsigned char>(c));
  }
  std::int16_t VkKeyScanW(char16_t c) override { return Scan(c); }
  std::string ToAnsi(std::string_view utf8) override {
    return utf8 == "ñ" ? std::string("\xF1") : std::string(utf8);
  }
  static std::int16_t Scan(char32_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<std::int16_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<std::int16_t>(0x100 | c);
    if (c == '}') return 0x1DD;
    if (c == '(') return 0x139;
    if (c == 0xF1) return 0xC0;
    return -1;
  }

  Events events;
  std::string ansi_scans;
  std::int32_t version = 0x0A;
};

constexpr int kDown = 1, kUp = 3;
Events Press(int vk, int times = 1) {
  Events e;
  for (int i = 0; i < times; ++i) {
    e.emplace_back(vk, kDown);
    e.emplace_back(vk, kUp);
  }
  return e;
}
Events operator+(Events a, const Events& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SendKeysTest : public ::testing::Test {
 protected:
  // The error SendKeys raises for `text`, with the events it sent before and while failing.
  CorvaError ErrorOf(std::string_view text) {
    try {
      keys.SendKeys(text);
    } catch (const CorvaError& e) {
      return e;
    }
    ADD_FAILURE() << "no error for " << text;
    return CorvaError(0, "", "");
  }

  RecordingKeyboard keyboard;
  cSendKeys keys{keyboard, "Corvamon"};
};

TEST_F(SendKeysTest, NamedKeysInBracesIgnoreCaseAndTakeRepetitions) {
  keys.SendKeys("{enter}{ENTER}{~}~{TAB 3}{PRTSC}{F16}{}}{xyz}");
  EXPECT_EQ(keyboard.events, Press(13, 4) + Press(9, 3) + Press(42) + Press(127) +
                                 Press(0xDD)  // "}" by its own key, shift dropped
                                 + Press('X'));
}

TEST_F(SendKeysTest, ModifiersHoldOnlyThroughTheirGroup) {
  keys.SendKeys("+(aB)^(c)+a");
  const Events shift_group = Events{{16, kDown}} + Press('A') + Press('B') + Events{{16, kUp}};
  const Events ctrl_group = Events{{17, kDown}} + Press('C') + Events{{17, kUp}};
  // A lone "+" is pressed and released before the "a": it does not shift it.
  EXPECT_EQ(keyboard.events, shift_group + ctrl_group + Press(16) + Press('A'));
}

TEST_F(SendKeysTest, SyntaxErrorsNameTheirPositionAndComeFromTheClass) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"{TAB x}", "Invalid sendkeys command; key repetitions 'x' is invalid near position 8"},
      {")", "Invalid sendkeys command: unmatched ) at position 1"},
      {"ab{", "Invalid sendkeys command; opening { without content or closing } at position 3"},
      {"{}", "Invalid sendkeys command; opening { without content or closing } at position 1"},
      {"a{TAB", "Invalid sendkeys command; opening { without closing } at position 2"},
      {"%(x", "Invalid sendkeys command: more open brackets than close brackets."},
  };
  for (const auto& c : cases) {
    const CorvaError e = ErrorOf(c.text);
    EXPECT_EQ(e.Description(), c.message) << c.text;
    EXPECT_EQ(e.Source(), "Corvamon.cSendKeys") << c.text;
    EXPECT_EQ(e.Number(), kSendKeysSyntax) << c.text;
  }
}

TEST_F(SendKeysTest, AnErrorLetsGoOfEveryHeldModifierLastFirst) {
  ErrorOf("%(x");
  const Events alt_held = Events{{18, kDown}} + Press('X') + Events{{18, kUp}};
  EXPECT_EQ(keyboard.events, alt_held);

  keyboard.events.clear();
  ErrorOf("+(^({TAB z}");
  EXPECT_EQ(keyboard.events,
            (Events{{16, kDown}, {17, kDown}, {17, kUp}, {16, kUp}}));
}

TEST_F(SendKeysTest, AKeyWithNoNameAndNoKeyRaisesError9ThroughSendKeys) {
  // "€" has no key on this layout: VkKeyScan's -1 is key 255, which is sent.
  keys.KeyPress("€", 1);
  EXPECT_EQ(keyboard.events, Press(255));

  keyboard.events.clear();
  const CorvaError e = ErrorOf("+({ 2}");  // an empty name
  EXPECT_EQ(e.Number(), kKeyNotInterpreted);
  EXPECT_EQ(e.Description(), "Key  could not be interpreted.");
  EXPECT_EQ(e.Source(), "Corvamon.cSendKeys");
  EXPECT_EQ(keyboard.events, (Events{{16, kDown}, {16, kUp}}));
}

TEST_F(SendKeysTest, KeyCodeUsesTheCodePageOnTheOlderPlatformAndDropsShift) {
  EXPECT_EQ(keys.KeyCode("Q"), 'Q');
  EXPECT_EQ(keys.KeyCode("ñ"), 0xC0);
  EXPECT_TRUE(keyboard.ansi_scans.empty());
  keyboard.version = static_cast<std::int32_t>(0xC0000A04u);  // negative: the older platform
  EXPECT_EQ(keys.KeyCode("ñ"), 0xC0);
  EXPECT_EQ(keyboard.ansi_scans, "\xF1");
}

TEST_F(SendKeysTest, AHugeRepetitionCountIsRefusedLikeAnyOtherBadCount) {
  keys.SendKeys("{TAB " + std::to_string(kMaxKeyRepetitions) + "}");
  EXPECT_EQ(keyboard.events, Press(9, kMaxKeyRepetitions));
  // One more is refused before anything is pressed (checked first: a count that is not refused
  // would keep this test pressing keys for minutes).
  keyboard.events.clear();
  ASSERT_THROW(keys.SendKeys("{TAB " + std::to_string(kMaxKeyRepetitions + 1) + "}"), CorvaError);
  EXPECT_TRUE(keyboard.events.empty());

  const CorvaError e = ErrorOf("+({a 99999999}");
  EXPECT_EQ(e.Number(), kSendKeysSyntax);
  EXPECT_EQ(e.Description(),
            "Invalid sendkeys command; key repetitions '99999999' is invalid near position 15");
  EXPECT_EQ(keyboard.events, (Events{{16, kDown}, {16, kUp}}));  // nothing pressed, Shift let go
}

TEST_F(SendKeysTest, BytesThatSpellNoCharacterAreNeitherBracesNorBrackets) {
  // Over-long forms of "{" and ")", and an encoded surrogate before a braced key: each byte is
  // a character with no key (255), and the braces that follow are still read.
  keys.SendKeys("\xC1\xBB\xC0\xA9\xED\xA0\x80{TAB}");
  EXPECT_EQ(keyboard.events, Press(255, 7) + Press(9));
}

TEST_F(SendKeysTest, CountsBelowOneAndCharAfterBounds) {
  keys.KeyPress("tab", 0);
  keys.KeyPress("tab", -2);
  EXPECT_TRUE(keyboard.events.empty());
  EXPECT_EQ(cSendKeys::CharAfter(u"+(a", 1, 3), u"(");
  EXPECT_EQ(cSendKeys::CharAfter(u"+(a", 1, 1), u"");  // the given length ends first
  EXPECT_EQ(cSendKeys::CharAfter(u"+(a", 2, 0), u"a");
  EXPECT_EQ(cSendKeys::CharAfter(u"+(a", 3, 0), u"");
}

}  // namespace
}  // namespace corva
