#include "main/dispatch.h"

#include <string>
#include <utility>

#include "cv/capture.h"
#include "cv/color_methods.h"
#include "cv/display.h"
#include "cv/image_input.h"
#include "cv/screen_search.h"
#include "cv/search_image.h"
#include "files/content.h"
#include "files/handlers.h"
#include "input/injection.h"
#include "input/permissions.h"
#include "ocr/ocr.h"
#include "window/browser_window.h"

namespace quorvane {

namespace protocol {
HandlerResult get_version(std::string_view, const json&) { return json(std::string(kHostVersion)); }
}  // namespace protocol

namespace {

// Each handler is named after its method and lives in its subsystem's namespace (and
// folder): cv/ screens and image search, window/ the browser window, input/ mouse and
// keyboard, ocr/ text recognition, files/ the local disk and processes.
constexpr MethodEntry kMethods[] = {
    {"get_version", protocol::get_version},

    {"get_display_list", cv::get_display_list},
    {"get_desktop_dpi", cv::get_desktop_dpi},
    {"get_screen_backing_scale_factor", cv::get_screen_backing_scale_factor},
    {"capture_desktop", cv::capture_desktop},
    {"get_image_info", cv::get_image_info},
    {"search_image", cv::search_image},
    {"search_desktop", cv::search_desktop},
    {"wait_for_image", cv::wait_for_image},
    {"search_relative", cv::search_relative},
    {"find_color_regions", cv::find_color_regions},
    {"find_rectangle", cv::find_rectangle},

    {"focus_browser", window::focus_browser},
    {"get_active_browser_window_rect", window::get_active_browser_window_rect},
    {"get_active_browser_outer_rect", window::get_active_browser_outer_rect},

#ifdef _WIN32
    {"send_text", input::send_text},
    {"send_mouse_event", input::send_mouse_event},
    {"send_mouse_wheel_event", input::send_mouse_wheel_event},
#endif
    {"get_permission_status", input::get_permission_status},
    {"request_permission", input::request_permission},
    {"open_permission_pane", input::open_permission_pane},

#ifdef _WIN32
    {"ocr_image", ocr::ocr_image},
    {"ocr_language_list", ocr::ocr_language_list},

    {"file_exists", files::file_exists},
    {"directory_exists", files::directory_exists},
    {"create_directory", files::create_directory},
    {"remove_directory", files::remove_directory},
    {"delete_file", files::delete_file},
    {"copy_file", files::copy_file},
    {"move_file", files::move_file},
    {"get_files", files::get_files},
    {"get_directories", files::get_directories},
    {"get_file_system_entries", files::get_file_system_entries},
    {"get_file_system_entry_info", files::get_file_system_entry_info},
    {"get_special_folder_path", files::get_special_folder_path},
    {"read_all_text", files::read_all_text},
    {"read_all_bytes", files::read_all_bytes},
    {"write_all_text", files::write_all_text},
    {"write_all_bytes", files::write_all_bytes},
    {"append_all_text", files::append_all_text},
    {"append_all_bytes", files::append_all_bytes},
    {"get_file_size", files::get_file_size},
    {"read_file_range", files::read_file_range},
    {"run_process", files::run_process},
#endif
    {"get_max_file_range", files::get_max_file_range},
};

}  // namespace

std::span<const MethodEntry> method_table() { return kMethods; }

// A linear scan of a few dozen short names, once per request.
std::optional<Handler> find_handler(std::string_view method) {
  for (const MethodEntry& entry : kMethods)
    if (entry.name == method) return entry.handler;
  return std::nullopt;
}

HandlerResult call_method(std::string_view method, const json& params) {
  if (std::optional<Handler> handler = find_handler(method)) return (*handler)(method, params);
  return fail("Unknown method: " + std::string(method));
}

json dispatch_request(const json& request) {
  static const json kNull;
  const json* id = &kNull;
  const json* params = &kNull;
  std::string_view method;
  if (request.is_object()) {
    if (auto it = request.find("id"); it != request.end()) id = &*it;
    if (auto it = request.find("method"); it != request.end() && it->is_string())
      method = it->get_ref<const std::string&>();
    if (auto it = request.find("params"); it != request.end()) params = &*it;
  }

  HandlerResult outcome = call_method(method, *params);

  json reply = json::object();
  reply["id"] = *id;
  if (outcome.ok()) {
    reply["result"] = std::move(outcome).value();
  } else {
    json error = json::object();
    error["message"] = std::move(outcome).error();
    reply["error"] = std::move(error);
  }
  return reply;
}

}  // namespace quorvane
