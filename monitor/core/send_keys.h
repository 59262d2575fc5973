#pragma once
// cSendKeys: synthesised keyboard input for whatever window has the focus. Single key presses
// by virtual-key code, presses of a named key or a character, and the bracket language in which
// a whole key sequence is written as text ("+(ab)", "{TAB 3}", "%(x)", "~").

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "corva_error.h"

namespace corva {

// The keyboard as cSendKeys sees it: the system's key-event call and its layout lookups.
class KeyboardApi {
 public:
  virtual ~KeyboardApi() = default;
  // keybd_event(vk, 0, flags, 0).
  virtual void KeybdEvent(std::uint8_t vk, std::uint32_t flags) = 0;
  // GetVersion: negative on the older, non-NT platform.
  virtual std::int32_t GetVersion() = 0;
  virtual std::int16_t VkKeyScanA(char ansi) = 0;
  virtual std::int16_t VkKeyScanW(char16_t unit) = 0;
  // The text in the system's 8-bit code page.
  virtual std::string ToAnsi(std::string_view utf8) = 0;
};

// keybd_event flags: every key goes out as an extended key.
inline constexpr std::uint32_t kKeyEventExtended = 1;  // KEYEVENTF_EXTENDEDKEY
inline constexpr std::uint32_t kKeyEventUp = 2;        // KEYEVENTF_KEYUP
inline constexpr std::uint8_t kVkShift = 16;
inline constexpr std::uint8_t kVkControl = 17;
inline constexpr std::uint8_t kVkMenu = 18;  // Alt
inline constexpr std::uint8_t kVkReturn = 13;
inline constexpr std::uint8_t kVkEscape = 27;

// Raised by KeyPress for a key it cannot name.
inline constexpr std::uint32_t kKeyNotInterpreted = 9;
// Raised by SendKeys for a text it cannot read.
inline constexpr std::uint32_t kSendKeysSyntax = kObjectErrorBase + 513;
// The most presses one braced key may ask for ("{TAB 3}"); a larger count is refused like any
// other repetitions text that is not a count, so that a short text cannot type for hours.
inline constexpr std::int32_t kMaxKeyRepetitions = 1000;

class cSendKeys {
 public:
  // `program` is the executable's name without extension; errors carry it as their source.
  cSendKeys(KeyboardApi& keyboard, std::string program);

  // Interprets the command text and presses its keys. `Wait` is accepted and not used.
  void SendKeys(std::string_view sKeys, bool Wait = false);
  // Presses and releases the named key (or the key of the text's first character) lCount times.
  void KeyPress(std::string_view sKey, std::int32_t lCount = 1);
  void KeyDown(std::int32_t vKey);
  void KeyUp(std::int32_t vKey);
  // The key that types the first character of the text on the current layout; 255 when none.
  std::int32_t KeyCode(std::string_view sChar);
  // The character at position + 1 of the text (1-based positions), or empty text when `length`
  // is less than position + 1; a length of 0 means the text's own length.
  static std::u16string CharAfter(std::u16string_view text, std::int32_t position,
                                  std::int32_t length = 0);

  // Where errors come from: the program's name followed by ".cSendKeys".
  std::string Source() const { return program_ + ".cSendKeys"; }

 private:
  // The key-name table lookup, letter case ignored; 0 when the name is not in it.
  std::int32_t NamedKey(std::string_view name) const;
  [[noreturn]] void SyntaxError(const std::string& description) const;

  KeyboardApi& keyboard_;
  std::string program_;
  std::map<std::string, std::int32_t> key_names_;  // upper-case names
};

}  // namespace corva
