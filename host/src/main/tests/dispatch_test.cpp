#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/json.h"
#include "main/dispatch.h"

namespace quorvane {
namespace {

std::string answer(std::string_view request_text) {
  json request;
  EXPECT_TRUE(parse_json(request_text, request)) << request_text;
  return to_json_text(dispatch_request(request));
}

TEST(Dispatch, EnvelopeAndVersion) {
  EXPECT_EQ(answer(R"({"id":"a","method":"get_version"})"), R"({"id":"a","result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"method":"get_version"})"), R"({"id":null,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":7,"method":"get_version","params":"ignored"})"), R"({"id":7,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":1.0,"method":"get_version"})"), R"({"id":1.0,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":{"z":1,"a":2},"method":"get_version"})"), R"({"id":{"a":2,"z":1},"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":-3,"method":"get_version","extra":[1]})"), R"({"id":-3,"result":"2.0.7"})");
}

TEST(Dispatch, UnknownNamesAreAnsweredWithTheNameExactly) {
  EXPECT_EQ(answer(R"({"id":3,"method":"Get_Version"})"),
            R"({"error":{"message":"Unknown method: Get_Version"},"id":3})");
  EXPECT_EQ(answer(R"({"id":4})"), R"({"error":{"message":"Unknown method: "},"id":4})");
  EXPECT_EQ(answer(R"({"id":5,"method":17})"), R"({"error":{"message":"Unknown method: "},"id":5})");
  EXPECT_EQ(answer(R"({"id":6,"method":" get_version"})"),
            R"({"error":{"message":"Unknown method:  get_version"},"id":6})");
  EXPECT_EQ(answer(R"({"id":8,"method":"a\"b\u0001"})"),
            R"({"error":{"message":"Unknown method: a\"b\u0001"},"id":8})");
}

TEST(Dispatch, NonObjectRequestsGetANullId) {
  for (const char* text : {"[1,2,3]", "42", "\"get_version\"", "true", "null"})
    EXPECT_EQ(answer(text), R"({"error":{"message":"Unknown method: "},"id":null})") << text;
}

TEST(Dispatch, TheTableListsEveryMethodOnce) {
  // The methods every build answers, then those that need Windows.
  std::vector<std::string_view> expected = {"get_version",
                                            "get_display_list",
                                            "get_desktop_dpi",
                                            "get_screen_backing_scale_factor",
                                            "capture_desktop",
                                            "get_image_info",
                                            "search_image",
                                            "search_desktop",
                                            "wait_for_image",
                                            "search_relative",
                                            "find_color_regions",
                                            "find_rectangle",
                                            "focus_browser",
                                            "get_active_browser_window_rect",
                                            "get_active_browser_outer_rect",
                                            "get_permission_status",
                                            "request_permission",
                                            "open_permission_pane",
                                            "get_max_file_range"};
#ifdef _WIN32
  for (std::string_view name : {"send_text",
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
                                "run_process"})
    expected.push_back(name);
  ASSERT_EQ(expected.size(), 45u);
#endif
  std::vector<std::string_view> listed;
  for (const MethodEntry& entry : method_table()) listed.push_back(entry.name);
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  // Equal sorted lists also rule out a name listed twice, which would shadow a handler.
  EXPECT_EQ(listed, expected);
  EXPECT_FALSE(find_handler("").has_value());
  EXPECT_FALSE(find_handler("Unknown").has_value());
}

}  // namespace
}  // namespace quorvane
