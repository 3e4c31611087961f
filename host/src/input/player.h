// The input player: executes action lists as synthetic events in the system input queue.
//
// The player decides every event, its flags and scan code, and how events are grouped
// into injection calls; the platform is reached only through InputQueue, so the whole
// decision is testable with a recording fake.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/result.h"
#include "input/key_sequence.h"

namespace quorvane::input {

// Stamped on every injected event, so that hooks can tell our input from a person's.
inline constexpr std::uint64_t INPUT_EXTRA_INFO = 100;

// Win32 values, kept here so the portable player and its tests speak the platform's terms.
namespace input_flags {
inline constexpr std::uint32_t MOUSEEVENTF_MOVE = 0x0001;
inline constexpr std::uint32_t MOUSEEVENTF_LEFTDOWN = 0x0002;
inline constexpr std::uint32_t MOUSEEVENTF_LEFTUP = 0x0004;
inline constexpr std::uint32_t MOUSEEVENTF_RIGHTDOWN = 0x0008;
inline constexpr std::uint32_t MOUSEEVENTF_RIGHTUP = 0x0010;
inline constexpr std::uint32_t MOUSEEVENTF_MIDDLEDOWN = 0x0020;
inline constexpr std::uint32_t MOUSEEVENTF_MIDDLEUP = 0x0040;
inline constexpr std::uint32_t MOUSEEVENTF_WHEEL = 0x0800;
inline constexpr std::uint32_t MOUSEEVENTF_HWHEEL = 0x1000;
inline constexpr std::uint32_t MOUSEEVENTF_ABSOLUTE = 0x8000;

inline constexpr std::uint32_t KEYEVENTF_EXTENDEDKEY = 0x0001;
inline constexpr std::uint32_t KEYEVENTF_KEYUP = 0x0002;
inline constexpr std::uint32_t KEYEVENTF_UNICODE = 0x0004;
inline constexpr std::uint32_t KEYEVENTF_SCANCODE = 0x0008;
}  // namespace input_flags

// One INPUT record, minus the fields that are always the same (time 0, extra info
// INPUT_EXTRA_INFO). Mouse events use dx, dy, mouse_data and flags; keyboard events use
// vk, scan and flags.
struct InputEvent {
  enum class Type : std::uint8_t { Mouse, Keyboard };
  Type type;
  std::int32_t dx = 0;
  std::int32_t dy = 0;
  std::uint32_t mouse_data = 0;
  std::uint16_t vk = 0;
  std::uint16_t scan = 0;
  std::uint32_t flags = 0;

  static InputEvent mouse(std::int32_t dx, std::int32_t dy, std::uint32_t mouse_data, std::uint32_t flags) {
    return InputEvent{Type::Mouse, dx, dy, mouse_data, 0, 0, flags};
  }
  static InputEvent key(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
    return InputEvent{Type::Keyboard, 0, 0, 0, vk, scan, flags};
  }
  bool operator==(const InputEvent&) const = default;
};

struct ScreenPoint {
  std::int32_t x;
  std::int32_t y;
};

// An opaque keyboard layout handle (HKL).
using KeyboardLayout = std::uintptr_t;

// The platform services the player needs, one method per call it makes.
class InputQueue {
 public:
  virtual ~InputQueue() = default;

  // GetSystemMetrics(SM_CXSCREEN) and (SM_CYSCREEN): the primary monitor in pixels; 0 on failure.
  virtual std::int32_t primary_screen_width() = 0;
  virtual std::int32_t primary_screen_height() = 0;
  // GetCursorPos; nullopt when it fails.
  virtual std::optional<ScreenPoint> cursor_position() = 0;
  virtual void sleep_ms(std::uint64_t milliseconds) = 0;
  // The layout of the thread that owns the foreground window.
  virtual KeyboardLayout foreground_keyboard_layout() = 0;
  // VkKeyScanExW: virtual key in the low byte, shift state in the high byte, -1 for none.
  virtual std::int16_t vk_key_scan(char16_t character, KeyboardLayout layout) = 0;
  // MapVirtualKeyExW(code, MAPVK_VK_TO_VSC_EX, layout).
  virtual std::uint32_t scan_code_of(std::uint32_t code, KeyboardLayout layout) = 0;
  // SendInput with all `events` in one call; returns how many were inserted.
  virtual std::size_t send(std::span<const InputEvent> events) = 0;
};

// Absolute mouse coordinate for pixel `v` on a primary monitor `extent` pixels wide (or
// high): v * 65535 / (extent - 1), rounded half away from zero, low 32 bits. `extent`
// must be at least 2.
std::int32_t normalize_absolute(std::int32_t v, std::int32_t extent);

// Plays the actions in order and stops at the first failure, returning
// "input_failed: <action text>: <reason>". Modifiers still held at the end, whether the
// list succeeded or not, are released in the order they were pressed.
Result<void> play_actions(std::span<const InputAction> actions, InputQueue& queue);

}  // namespace quorvane::input
