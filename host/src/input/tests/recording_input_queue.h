// A fake system input queue: records every call the player makes and every batch of
// events it injects, and can be told to misbehave.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "input/player.h"

namespace quorvane::testing {

using namespace quorvane::input;

class RecordingInputQueue : public InputQueue {
 public:
  static constexpr KeyboardLayout LAYOUT = 0x04090409;

  // Scan codes the fake layout reports: distinct per code and easy to predict in tests.
  static std::uint16_t scan_for(std::uint32_t code) { return static_cast<std::uint16_t>(0x0E00 + code); }

  std::int32_t width = 1920;
  std::int32_t height = 1080;
  // When set, the pointer lands on the pixel an absolute move names; otherwise it stays.
  bool pointer_follows_moves = true;
  std::optional<ScreenPoint> pointer = ScreenPoint{0, 0};
  // Positions handed out before `pointer`, one per read (nullopt: GetCursorPos fails).
  std::deque<std::optional<ScreenPoint>> pointer_script;
  // Calls (by 0-based index) that insert fewer events than they are given.
  std::map<std::size_t, std::size_t> inserted_on_call;
  // VkKeyScanExW answers that differ from a US layout; -1 means "no key".
  std::map<char16_t, std::int16_t> key_scan_overrides;

  std::vector<std::vector<InputEvent>> calls;
  std::vector<std::string> log;  // every platform call, in order
  int layout_queries = 0;

  std::int32_t primary_screen_width() override {
    log.push_back("width");
    return width;
  }
  std::int32_t primary_screen_height() override {
    log.push_back("height");
    return height;
  }
  std::optional<ScreenPoint> cursor_position() override {
    log.push_back("cursor");
    if (!pointer_script.empty()) {
      auto next = pointer_script.front();
      pointer_script.pop_front();
      return next;
    }
    return pointer;
  }
  void sleep_ms(std::uint64_t milliseconds) override { log.push_back("sleep " + std::to_string(milliseconds)); }
  KeyboardLayout foreground_keyboard_layout() override {
    ++layout_queries;
    return LAYOUT;
  }
  std::int16_t vk_key_scan(char16_t character, KeyboardLayout layout) override {
    check_layout(layout);
    if (auto it = key_scan_overrides.find(character); it != key_scan_overrides.end()) return it->second;
    if (character >= u'a' && character <= u'z') return static_cast<std::int16_t>(character - u'a' + 'A');
    if (character >= u'0' && character <= u'9') return static_cast<std::int16_t>(character);
    switch (character) {
      case u',':
        return 0xBC;
      case u'.':
        return 0xBE;
      case u';':
        return 0xBA;
      case u'-':
        return 0xBD;
      default:
        return -1;
    }
  }
  std::uint32_t scan_code_of(std::uint32_t code, KeyboardLayout layout) override {
    check_layout(layout);
    return scan_for(code);
  }
  std::size_t send(std::span<const InputEvent> events) override {
    log.push_back("send " + std::to_string(events.size()));
    const std::size_t index = calls.size();
    calls.emplace_back(events.begin(), events.end());
    for (const InputEvent& e : events) {
      if (pointer_follows_moves && e.type == InputEvent::Type::Mouse && (e.flags & input_flags::MOUSEEVENTF_ABSOLUTE)) {
        pointer = ScreenPoint{denormalize(e.dx, width), denormalize(e.dy, height)};
      }
    }
    if (auto it = inserted_on_call.find(index); it != inserted_on_call.end()) return it->second;
    return events.size();
  }

  int count(const std::string& entry) const {
    int n = 0;
    for (const auto& e : log) n += e == entry;
    return n;
  }

 private:
  static std::int32_t denormalize(std::int32_t v, std::int32_t extent) {
    const std::int64_t scaled = std::int64_t{v} * (extent - 1);
    return static_cast<std::int32_t>((scaled + (scaled >= 0 ? 32767 : -32767)) / 65535);
  }
  void check_layout(KeyboardLayout layout) {
    if (layout != LAYOUT) log.push_back("wrong layout");
  }
};

}  // namespace quorvane::testing
