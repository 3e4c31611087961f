// The real executable under the browser stand-in: framing, stop conditions and exact
// reply bytes as a browser sees them.
#include <gtest/gtest.h>

#include <string>

#include "host_process_testing.h"

namespace quorvane::standin {
namespace {

std::string frame(std::string_view payload) {
  return frame_header(static_cast<std::uint32_t>(payload.size())) + std::string(payload);
}

TEST(ProtocolE2E, ExactReplyBytesAndOrderlyEnd) {
  HostProcess host;
  ASSERT_TRUE(host.send_frame(R"({"id":7,"method":"get_version"})"));
  EXPECT_EQ(host.read_frame(), R"({"id":7,"result":"2.0.7"})");
  ASSERT_TRUE(host.send_frame("  {\"id\":1.0,\"method\":\"get_version\"}\n"));
  EXPECT_EQ(host.read_frame(), R"({"id":1.0,"result":"2.0.7"})");
  ASSERT_TRUE(host.send_frame(R"({"id":{"z":1,"a":"\/é"},"method":"Get_Version"})"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"Unknown method: Get_Version"},"id":{"a":"/é","z":1}})");
  host.close_input();
  expect_quiet_exit(host);
}

TEST(ProtocolE2E, NonObjectRequestIsAnsweredAndServingGoesOn) {
  HostProcess host;
  ASSERT_TRUE(host.send_frame("[1,2,3]"));
  EXPECT_EQ(host.read_frame(), R"({"error":{"message":"Unknown method: "},"id":null})");
  EXPECT_EQ(host.call("get_version")["result"], "2.0.7");
  host.close_input();
  expect_quiet_exit(host);
}

TEST(ProtocolE2E, PayloadBytesCrossUnchanged) {
  // Line feeds, carriage returns and a Ctrl-Z in a payload must not be touched by any
  // text-mode translation on either stream.
  HostProcess host;
  ASSERT_TRUE(host.send_frame("{\"id\":\"a\\nb\",\r\n\"method\":\"x\\r\\n\\u001a\"}"));
  EXPECT_EQ(host.read_frame(), "{\"error\":{\"message\":\"Unknown method: x\\r\\n\\u001a\"},\"id\":\"a\\nb\"}");
  host.close_input();
  expect_quiet_exit(host);
}

TEST(ProtocolE2E, MalformedFramesEndTheHostWithoutReply) {
  const std::string bad_payloads[] = {
      R"({"id":1,"method":"get_version"} x)",
      "",
      std::string(128, '[') + std::string(128, ']'),
      "{\"id\":\"\xC3\x28\",\"method\":\"get_version\"}",
      "\xEF\xBB\xBF{}",
  };
  for (const std::string& bad : bad_payloads) {
    HostProcess host;
    ASSERT_TRUE(host.send_frame(R"({"id":1,"method":"get_version"})"));
    EXPECT_EQ(host.read_frame(), R"({"id":1,"result":"2.0.7"})");
    host.send_raw(frame(bad) + frame(R"({"id":2,"method":"get_version"})"));
    expect_quiet_exit(host);
  }
}

TEST(ProtocolE2E, TruncatedInputEndsTheHost) {
  for (std::string tail : {std::string("\x10\x00", 2), std::string("\x10\x00\x00\x00{\"id\":", 10)}) {
    HostProcess host;
    host.send_raw(tail);
    host.close_input();
    expect_quiet_exit(host);
  }
}

TEST(ProtocolE2E, UnallocatableLengthEndsTheHost) {
  HostProcess host;
  host.send_raw(std::string("\xFF\xFF\xFF\xFF", 4) + "{}");
  host.close_input();
  expect_quiet_exit(host);
}

TEST(ProtocolE2E, DeepButAllowedNestingIsServed) {
  HostProcess host;
  std::string params = std::string(126, '[') + std::string(126, ']');
  ASSERT_TRUE(host.send_frame(R"({"id":3,"method":"get_version","params":)" + params + "}"));
  EXPECT_EQ(host.read_frame(), R"({"id":3,"result":"2.0.7"})");
}

TEST(ProtocolE2E, LargeRequestRoundTrip) {
  // A request the size of a Base64 1080p screen crosses intact and leaves the host serving.
  HostProcess host;
  std::string big(8'300'000, 'A');
  json reply = host.call("no_such_method", {{"data", big}}, 42);
  EXPECT_EQ(reply["error"]["message"], "Unknown method: no_such_method");
  EXPECT_EQ(reply["id"], 42);
  EXPECT_EQ(host.call("get_version")["result"], "2.0.7");
}

}  // namespace
}  // namespace quorvane::standin
