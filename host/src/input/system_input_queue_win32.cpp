#include "input/system_input_queue.h"

#include <windows.h>

#include <limits>
#include <vector>

namespace quorvane::input {

std::int32_t SystemInputQueue::primary_screen_width() { return GetSystemMetrics(SM_CXSCREEN); }
std::int32_t SystemInputQueue::primary_screen_height() { return GetSystemMetrics(SM_CYSCREEN); }

std::optional<ScreenPoint> SystemInputQueue::cursor_position() {
  POINT point{};
  if (!GetCursorPos(&point)) return std::nullopt;
  return ScreenPoint{point.x, point.y};
}

void SystemInputQueue::sleep_ms(std::uint64_t milliseconds) {
  // Sleep takes 32 bits and treats 0xFFFFFFFF as "forever"; long pauses go in pieces.
  constexpr std::uint64_t piece = 0x7FFFFFFF;
  while (milliseconds > piece) {
    Sleep(static_cast<DWORD>(piece));
    milliseconds -= piece;
  }
  Sleep(static_cast<DWORD>(milliseconds));
}

KeyboardLayout SystemInputQueue::foreground_keyboard_layout() {
  const DWORD thread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  return reinterpret_cast<KeyboardLayout>(GetKeyboardLayout(thread));
}

std::int16_t SystemInputQueue::vk_key_scan(char16_t character, KeyboardLayout layout) {
  return VkKeyScanExW(static_cast<WCHAR>(character), reinterpret_cast<HKL>(layout));
}

std::uint32_t SystemInputQueue::scan_code_of(std::uint32_t code, KeyboardLayout layout) {
  return MapVirtualKeyExW(code, MAPVK_VK_TO_VSC_EX, reinterpret_cast<HKL>(layout));
}

std::size_t SystemInputQueue::send(std::span<const InputEvent> events) {
  // SendInput counts in UINT; a batch too large for one call cannot be sent whole.
  if (events.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return 0;
  std::vector<INPUT> inputs(events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    const InputEvent& e = events[i];
    INPUT& in = inputs[i];
    if (e.type == InputEvent::Type::Mouse) {
      in.type = INPUT_MOUSE;
      in.mi.dx = e.dx;
      in.mi.dy = e.dy;
      in.mi.mouseData = e.mouse_data;
      in.mi.dwFlags = e.flags;
      in.mi.time = 0;
      in.mi.dwExtraInfo = static_cast<ULONG_PTR>(INPUT_EXTRA_INFO);
    } else {
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = e.vk;
      in.ki.wScan = e.scan;
      in.ki.dwFlags = e.flags;
      in.ki.time = 0;
      in.ki.dwExtraInfo = static_cast<ULONG_PTR>(INPUT_EXTRA_INFO);
    }
  }
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace quorvane::input
