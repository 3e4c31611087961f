// Every file-access method once through the real executable, as the browser drives it.
#include <gtest/gtest.h>

#include "common/base64.h"
#include "host_process.h"
#include "win32_test_support.h"

namespace quorvane::files::testing {
namespace {

using standin::HostProcess;

json result_of(HostProcess& host, std::string_view method, const json& params) {
  json reply = host.call(method, params, 9);
  EXPECT_EQ(reply["id"], 9) << reply.dump();
  EXPECT_TRUE(reply.contains("result")) << method << ": " << reply.dump();
  return reply.contains("result") ? reply["result"] : json();
}

TEST(FilesE2E, EveryMethodThroughTheHost) {
  TempDir dir;
  HostProcess host;
  const std::string a = dir / "a";
  const std::string text = a + "\\t.txt";
  const std::string bin = a + "\\b.bin";

  EXPECT_TRUE(result_of(host, "get_special_folder_path", json{{"folder", 1}}).is_string());
  EXPECT_EQ(result_of(host, "create_directory", json{{"path", a + "\\sub"}}), true);
  EXPECT_EQ(result_of(host, "directory_exists", json{{"path", a}}), true);
  EXPECT_EQ(result_of(host, "write_all_text", json{{"path", text}, {"content", "h\xC3\xA9llo\r\n"}}), true);
  EXPECT_EQ(result_of(host, "append_all_text", json{{"path", text}, {"content", "!"}}), true);
  EXPECT_EQ(result_of(host, "read_all_text", json{{"path", text}}).dump(), R"({"content":"héllo\r\n!","errorCode":0})");
  EXPECT_EQ(result_of(host, "write_all_bytes", json{{"path", bin}, {"content", base64_encode("\x01\x02\x03")}}), true);
  EXPECT_EQ(result_of(host, "append_all_bytes", json{{"path", bin}, {"content", base64_encode("\xFF")}}), true);
  EXPECT_EQ(result_of(host, "read_all_bytes", json{{"path", bin}})["content"], base64_encode("\x01\x02\x03\xFF"));
  EXPECT_EQ(result_of(host, "get_file_size", json{{"path", bin}}), 4);
  EXPECT_EQ(result_of(host, "get_max_file_range", json()), 524288);
  EXPECT_EQ(result_of(host, "read_file_range", json{{"path", bin}, {"rangeStart", 1}}).dump(),
            R"({"buffer":"AgP/","rangeEnd":4,"rangeStart":1})");
  EXPECT_EQ(result_of(host, "file_exists", json{{"path", bin}}), true);
  EXPECT_EQ(result_of(host, "copy_file", json{{"sourcePath", bin}, {"targetPath", a + "\\copy.PNG"}}), true);
  EXPECT_EQ(result_of(host, "move_file", json{{"sourcePath", a + "\\copy.PNG"}, {"targetPath", a + "\\Moved.png"}}),
            true);
  EXPECT_EQ(result_of(host, "get_files", json{{"path", a}}).dump(),
            R"({"entries":["Moved.png","b.bin","t.txt"],"errorCode":0})");
  EXPECT_EQ(result_of(host, "get_directories", json{{"path", a}}).dump(), R"({"entries":["sub"],"errorCode":0})");
  EXPECT_EQ(result_of(host, "get_file_system_entries", json{{"path", a}, {"extensions", {"PNG", ".txt"}}}).dump(),
            R"({"entries":["Moved.png","sub","t.txt"],"errorCode":0})");
  json info = result_of(host, "get_file_system_entry_info", json{{"path", text}});
  EXPECT_EQ(info["isDirectory"], false);
  EXPECT_EQ(info["length"], 9);
  EXPECT_EQ(result_of(host, "delete_file", json{{"path", a + "\\Moved.png"}}), true);
  EXPECT_EQ(
      result_of(host, "run_process",
                json{{"fileName", "files_test_child"}, {"arguments", "out 3 err 1 exit -2"}, {"waitForExit", true}})
          .dump(),
      R"({"exitCode":-2,"outputTruncated":false,"stderr":"e","stdout":"ooo"})");
  EXPECT_EQ(result_of(host, "remove_directory", json{{"path", a}}), true);
  EXPECT_EQ(result_of(host, "directory_exists", json{{"path", a}}), false);
  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
  EXPECT_EQ(host.error_output(), "");
}

TEST(FilesE2E, ErrorRepliesAndServingGoesOn) {
  HostProcess host;
  ASSERT_TRUE(host.send_frame(R"({"id":1,"method":"read_file_range","params":{"path":5}})"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"Missing string param 'path'"},"id":1})");
  ASSERT_TRUE(host.send_frame(R"({"id":2,"method":"get_special_folder_path","params":{"folder":1.5}})"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"Missing numeric param 'folder'"},"id":2})");
  ASSERT_TRUE(host.send_frame(R"({"id":3,"method":"get_files","params":{"path":""}})"));
  EXPECT_EQ(host.read_frame(), R"({"id":3,"result":{"entries":[],"errorCode":1}})");
  ASSERT_TRUE(host.send_frame(R"({"id":4,"method":"run_process","params":{"fileName":"qv_nothing_like_it"}})"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"run_failed: qv_nothing_like_it: program not found"},"id":4})");
  ASSERT_TRUE(host.send_frame(R"({"id":5,"method":"files_nope"})"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"Unknown method: files_nope"},"id":5})");
  ASSERT_TRUE(
      host.send_frame(R"({"id":6,"method":"run_process","params":{"fileName":"cmd.exe","arguments":"/c exit 3"}})"));
  EXPECT_EQ(host.read_frame(), R"({"id":6,"result":{"exitCode":null}})");
  EXPECT_EQ(host.call("get_version")["result"], "2.0.7");
  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
}

}  // namespace
}  // namespace quorvane::files::testing
