#include "win_key_sender.h"

#include <windows.h>

#include "text.h"

namespace corva::win {

void WinKeyboard::KeybdEvent(std::uint8_t vk, std::uint32_t flags) {
  ::keybd_event(vk, 0, flags, 0);
}

std::int32_t WinKeyboard::GetVersion() {
  // GetVersion's high bit marks the older, non-NT platform; there is no other way to ask it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return static_cast<std::int32_t>(::GetVersion());
#pragma GCC diagnostic pop
}

std::int16_t WinKeyboard::VkKeyScanA(char ansi) { return ::VkKeyScanA(ansi); }

std::int16_t WinKeyboard::VkKeyScanW(char16_t unit) {
  return ::VkKeyScanW(static_cast<wchar_t>(unit));
}

std::string WinKeyboard::ToAnsi(std::string_view utf8) { return Utf8ToAnsi(utf8); }

}  // namespace corva::win
