// The real InputQueue: SendInput and the user32 queries the player needs (Windows only).
#pragma once

#include <memory>

#include "input/player.h"

namespace quorvane::input {

class SystemInputQueue final : public InputQueue {
 public:
  std::int32_t primary_screen_width() override;
  std::int32_t primary_screen_height() override;
  std::optional<ScreenPoint> cursor_position() override;
  void sleep_ms(std::uint64_t milliseconds) override;
  KeyboardLayout foreground_keyboard_layout() override;
  std::int16_t vk_key_scan(char16_t character, KeyboardLayout layout) override;
  std::uint32_t scan_code_of(std::uint32_t code, KeyboardLayout layout) override;
  std::size_t send(std::span<const InputEvent> events) override;
};

}  // namespace quorvane::input
