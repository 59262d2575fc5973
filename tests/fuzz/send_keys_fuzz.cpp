// Fuzzes the keystroke language: any text through cSendKeys::SendKeys, the language's one entry
// point, on a keyboard that checks every event as it comes. Whatever the text, SendKeys must
// send only well-formed key events, release every key it pressed (also when it raises an error),
// send a number of events bounded by the text's length, and raise nothing but its own errors.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "send_keys.h"

using namespace corva;

namespace {

// A layout where a character's key is its own code unit: the units whose low byte is 0 (NUL
// among them) have no key and so cannot be interpreted, and the rest always name one.
class CheckingKeyboard : public KeyboardApi {
 public:
  // Starts a text: the platform to answer and the most events the text may send.
  void Start(bool older_platform, std::size_t max_events) {
    older_platform_ = older_platform;
    max_events_ = max_events;
    events_ = 0;
    held_.fill(0);
  }

  void KeybdEvent(std::uint8_t vk, std::uint32_t flags) override {
    // Every key goes out as an extended key, down or up.
    if (flags != kKeyEventExtended && flags != (kKeyEventExtended | kKeyEventUp)) std::abort();
    // A key is released only after it was pressed.
    if (flags & kKeyEventUp) {
      if (held_[vk] == 0) std::abort();
      --held_[vk];
    } else {
      ++held_[vk];
    }
    // A bounded text sends a bounded number of events: stop at once rather than run for hours.
    if (++events_ > max_events_) std::abort();
  }
  std::int32_t GetVersion() override { return older_platform_ ? -1 : 0x0A; }
  std::int16_t VkKeyScanA(char ansi) override {
    return static_cast<std::int16_t>(static_cast<unsigned char>(ansi));
  }
  std::int16_t VkKeyScanW(char16_t unit) override { return static_cast<std::int16_t>(unit); }
  // Characters outside ASCII become "?", as the system's conversion does for unmapped ones.
  std::string ToAnsi(std::string_view utf8) override {
    std::string out;
    for (const char c : utf8) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        out.push_back(c);
      } else if ((b & 0xC0) != 0x80) {
        out.push_back('?');
      }
    }
    return out;
  }

  bool AllReleased() const {
    for (const int n : held_) {
      if (n != 0) return false;
    }
    return true;
  }

 private:
  bool older_platform_ = false;
  std::size_t max_events_ = 0;
  std::size_t events_ = 0;
  std::array<int, 256> held_{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool older_platform = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  // Each character sends at most a press and a release, a braced key at most kMaxKeyRepetitions
  // presses, and an error releases at most one held modifier per character.
  const std::size_t max_events = (2 * kMaxKeyRepetitions + 3) * text.size();
  // One sender for every text, as a program keeps one: building its key-name table each time
  // would cost more than most texts.
  static CheckingKeyboard keyboard;
  static cSendKeys keys(keyboard, "Fuzz");
  keyboard.Start(older_platform, max_events);
  try {
    keys.SendKeys(text);
  } catch (const CorvaError& error) {
    if (error.Source() != "Fuzz.cSendKeys" || error.Description().empty()) std::abort();
    if (error.Number() == kSendKeysSyntax) {
      // Only braces and brackets make a syntax: a text without any cannot be misread, whatever
      // other bytes (broken or over-long UTF-8 among them) it holds.
      if (text.find_first_of("{()") == std::string_view::npos) std::abort();
    } else if (error.Number() != kKeyNotInterpreted) {
      std::abort();
    }
  }
  if (!keyboard.AllReleased()) std::abort();
  return 0;
}
