// input/: the input methods. The key-sequence language (key_sequence.h), the player that
// turns action lists into synthetic events (player.h), send_text, send_mouse_event and
// send_mouse_wheel_event (this header), the permission methods (permissions.h) and every
// text they answer with (errors.h). All decisions are portable and tested against a
// recording InputQueue; only system_input_queue_win32.cpp calls the system.
// Uses common/ and nothing else of the host.
//
// The input methods, written against InputQueue so that the native build can play them
// into a recording fake; the Windows build hands them the system queue.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/handler.h"
#include "input/key_sequence.h"
#include "input/player.h"

namespace quorvane::input {

// A numeric parameter as a signed 64-bit integer: unsigned values above the signed maximum
// saturate, floats are truncated toward zero and saturated. Anything that is not a JSON
// number gives "bad_params: missing or non-numeric '<name>'".
Result<std::int64_t> read_integer_param(const json& params, std::string_view name);

// The action list of send_mouse_event for an already checked type (0-7) and button.
ActionList mouse_event_actions(int type, MouseButton button, std::int32_t x, std::int32_t y);

HandlerResult send_text(const json& params, InputQueue& queue);
HandlerResult send_mouse_event(const json& params, InputQueue& queue);
HandlerResult send_mouse_wheel_event(const json& params, InputQueue& queue);

#ifdef _WIN32
// The method handlers: the same, played into the system's input queue.
HandlerResult send_text(std::string_view method, const json& params);
HandlerResult send_mouse_event(std::string_view method, const json& params);
HandlerResult send_mouse_wheel_event(std::string_view method, const json& params);
#endif

}  // namespace quorvane::input
