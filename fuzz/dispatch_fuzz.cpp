// The whole dispatcher as the native build assembles it (the screen and window services
// are its no-screen stand-ins there, and methods that need the Windows file system answer
// as unknown). Whatever the request, the reply is a valid envelope with the request's id,
// it survives the writer and the parser, and no exception escapes.
//
// Input: the first byte picks a method name from the list below (with the second byte
// choosing the id) and the rest is the params text; a first byte past the list makes the
// rest the whole request text, so requests of every shape are reached too.
#include <array>

#include "common/json.h"
#include "fuzz_support.h"
#include "main/dispatch.h"

using namespace quorvane;

namespace {

constexpr std::array<const char*, 46> kMethods = {"get_version",
                                                  "get_image_info",
                                                  "search_image",
                                                  "get_display_list",
                                                  "get_desktop_dpi",
                                                  "get_screen_backing_scale_factor",
                                                  "capture_desktop",
                                                  "search_desktop",
                                                  "wait_for_image",
                                                  "search_relative",
                                                  "get_permission_status",
                                                  "request_permission",
                                                  "open_permission_pane",
                                                  "focus_browser",
                                                  "get_active_browser_window_rect",
                                                  "get_active_browser_outer_rect",
                                                  "find_color_regions",
                                                  "find_rectangle",
                                                  "get_max_file_range",
                                                  "send_text",
                                                  "send_mouse_event",
                                                  "send_mouse_wheel_event",
                                                  "ocr_image",
                                                  "ocr_language_list",
                                                  "file_exists",
                                                  "directory_exists",
                                                  "create_directory",
                                                  "remove_directory",
                                                  "delete_file",
                                                  "copy_file",
                                                  "move_file",
                                                  "get_files",
                                                  "get_directories",
                                                  "get_file_system_entries",
                                                  "get_file_system_entry_info",
                                                  "get_special_folder_path",
                                                  "read_all_text",
                                                  "read_all_bytes",
                                                  "write_all_text",
                                                  "write_all_bytes",
                                                  "append_all_text",
                                                  "append_all_bytes",
                                                  "get_file_size",
                                                  "read_file_range",
                                                  "run_process",
                                                  "no_such_method"};

json id_for(std::uint8_t selector) {
  switch (selector % 8) {
    case 0:
      return 1;
    case 1:
      return -7;
    case 2:
      return 2.5;
    case 3:
      return "req-\xC3\xA9";
    case 4:
      return nullptr;
    case 5:
      return json::array({1, "x"});
    case 6:
      return json::object({{"k", true}});
    default:
      return std::uint64_t{18446744073709551615u};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view rest = fuzz::as_text(data + 2, size - 2);

  json request;
  if (data[0] < kMethods.size()) {
    request = json::object();
    request["method"] = kMethods[data[0]];
    if (data[1] & 0x80) request["id"] = id_for(data[1]);
    json params;
    if (parse_json(rest, params))
      request["params"] = std::move(params);
    else if (data[1] & 0x40)
      request["params"] = std::string(rest.substr(0, 16));
  } else if (!parse_json(fuzz::as_text(data + 1, size - 1), request)) {
    return 0;
  }
  if (fuzz::carries_costly_picture(request)) return 0;

  const json reply = dispatch_request(request);
  const json id = fuzz::expected_id(request);
  FUZZ_CHECK(fuzz::is_valid_envelope(reply, id));

  json parsed;
  FUZZ_CHECK(parse_json(to_json_text(reply), parsed));
  FUZZ_CHECK(fuzz::is_valid_envelope(parsed, id));
  return 0;
}
