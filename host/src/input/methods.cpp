#include "input/methods.h"

#include "input/browser_window.h"
#include "input/color_methods.h"
#include "input/permissions.h"

#ifdef _WIN32
#include "input/injection.h"
#include "input/system_input_queue.h"
#endif

namespace quorvane {

namespace {

#ifdef _WIN32
HandlerResult handle_send_text(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_text(params, queue);
}

HandlerResult handle_send_mouse_event(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_mouse_event(params, queue);
}

HandlerResult handle_send_mouse_wheel_event(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_mouse_wheel_event(params, queue);
}
#endif

constexpr MethodEntry methods[] = {
#ifdef _WIN32
    {"send_text", handle_send_text},
    {"send_mouse_event", handle_send_mouse_event},
    {"send_mouse_wheel_event", handle_send_mouse_wheel_event},
#endif
    {"get_permission_status", get_permission_status},
    {"request_permission", request_permission},
    {"open_permission_pane", open_permission_pane},
    {"focus_browser", handle_focus_browser},
    {"get_active_browser_window_rect", handle_get_active_browser_window_rect},
    {"get_active_browser_outer_rect", handle_get_active_browser_outer_rect},
    {"find_color_regions", handle_find_color_regions},
    {"find_rectangle", handle_find_rectangle},
};

}  // namespace

std::span<const MethodEntry> input_methods() { return methods; }

}  // namespace quorvane
