#pragma once
// The keyboard behind cSendKeys: keybd_event and the layout's key lookups.

#include "send_keys.h"

namespace corva::win {

class WinKeyboard final : public KeyboardApi {
 public:
  void KeybdEvent(std::uint8_t vk, std::uint32_t flags) override;
  std::int32_t GetVersion() override;
  std::int16_t VkKeyScanA(char ansi) override;
  std::int16_t VkKeyScanW(char16_t unit) override;
  std::string ToAnsi(std::string_view utf8) override;
};

}  // namespace corva::win
