// Every text the input methods answer with, in one place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::input::errors {

// Parameters.
inline std::string missing_numeric_param(std::string_view name) {
  return "bad_params: missing or non-numeric '" + std::string(name) + "'";
}
inline std::string out_of_range(std::string_view name) {
  return "bad_params: '" + std::string(name) + "' out of range";
}
inline std::string unknown_mouse_event_type(std::int64_t type) {
  return "bad_params: unknown mouse event type " + std::to_string(type);
}
inline std::string unknown_mouse_button(std::int64_t button) {
  return "bad_params: unknown mouse button " + std::to_string(button);
}
inline constexpr std::string_view kMissingText = "bad_params: missing 'text'";
inline constexpr std::string_view kMissingKind = "bad_params: missing 'kind' (accessibility | screenRecording)";

// Key sequences; `token` is the text between "${" and "}".
inline std::string quoted_token(std::string_view token) { return "'${" + std::string(token) + "}'"; }
inline constexpr std::string_view kUnterminatedToken = "bad_key: unterminated '${'";
inline std::string duplicate_modifier(std::string_view token) {
  return "bad_key: duplicate modifier in " + quoted_token(token);
}
inline std::string more_than_one_key(std::string_view token) {
  return "bad_key: more than one non-modifier key in " + quoted_token(token);
}
inline std::string unknown_key(std::string_view name, std::string_view token) {
  return "bad_key: unknown key '" + std::string(name) + "' in " + quoted_token(token);
}

// Playing an action list: "input_failed: <action text>: <reason>", the reason one of these.
inline std::string input_failed(std::string_view action, std::string_view reason) {
  return "input_failed: " + std::string(action) + ": " + std::string(reason);
}
inline constexpr std::string_view kScreenSizeFailed =
    "simulating input failed: (could not get the dimensions of the screen)";
inline constexpr std::string_view kNotAllSent =
    "simulating input failed: (not all input events were sent. they may have been blocked by UIPI)";
inline constexpr std::string_view kNullInText = "you tried to simulate invalid input: (the text contained a null byte)";

}  // namespace quorvane::input::errors
