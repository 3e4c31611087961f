// The real executable when its peer misbehaves: a length it never pays for, input that
// ends inside a frame, a reader that leaves in the middle of a reply, and messages that
// quote bytes which are not text. In each case the host ends (or answers) in order.
#include <gtest/gtest.h>
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/json.h"
#include "host_process_testing.h"

namespace quorvane::standin {
namespace {

PROCESS_MEMORY_COUNTERS memory_of(HostProcess& host) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  EXPECT_TRUE(GetProcessMemoryInfo(host.process_handle(), &counters, sizeof counters));
  return counters;
}

// A sender that declares 4 GiB and then sends a few bytes must not make the host hold
// 4 GiB while it waits for the rest.
TEST(FaultE2E, DeclaredLengthCostsNothingUntilBytesArrive) {
  HostProcess host;
  ASSERT_TRUE(host.send_frame(R"({"id":1,"method":"get_version"})"));
  ASSERT_EQ(host.read_frame(), R"({"id":1,"result":"2.0.7"})");
  const PROCESS_MEMORY_COUNTERS before = memory_of(host);
  ASSERT_TRUE(host.send_raw(frame_header(0xFFFFFFFFu) + R"({"id":2,"method")"));
  // Give the host time to take the header and whatever it does about it.
  Sleep(1500);
  const PROCESS_MEMORY_COUNTERS waiting = memory_of(host);
  std::printf("note: committed %zu -> %zu bytes, peak resident %zu -> %zu bytes\n", before.PagefileUsage,
              waiting.PagefileUsage, before.PeakWorkingSetSize, waiting.PeakWorkingSetSize);
  constexpr SIZE_T kAllowed = 64u << 20;
  EXPECT_LT(waiting.PagefileUsage, before.PagefileUsage + kAllowed) << "committed bytes";
  EXPECT_LT(waiting.PeakWorkingSetSize, before.PeakWorkingSetSize + kAllowed) << "resident bytes";
  host.close_input();
  expect_quiet_exit(host);
}

// A child that writes far more than run_process returns (the first 409,600 bytes of each
// stream) must not make the host hold all of it while it drains the pipe.
TEST(FaultE2E, RunProcessHoldsOnlyTheOutputItReturns) {
  HostProcess host;
  ASSERT_TRUE(host.send_frame(R"({"id":1,"method":"get_version"})"));
  ASSERT_EQ(host.read_frame(), R"({"id":1,"result":"2.0.7"})");
  const PROCESS_MEMORY_COUNTERS before = memory_of(host);
  // files_test_child lies beside the host, where run_process looks first.
  ASSERT_TRUE(host.send_frame(
      R"({"id":2,"method":"run_process","params":{"fileName":"files_test_child","arguments":"out 150000000","waitForExit":true}})"));
  const std::string reply = host.read_frame().value_or("(no reply)");
  const PROCESS_MEMORY_COUNTERS after = memory_of(host);
  std::printf("note: peak resident %zu -> %zu bytes for 150 MB of output\n", before.PeakWorkingSetSize,
              after.PeakWorkingSetSize);
  EXPECT_NE(reply.find(R"("exitCode":0,"outputTruncated":true)"), std::string::npos) << reply.substr(0, 200);
  EXPECT_LT(after.PeakWorkingSetSize, before.PeakWorkingSetSize + (64u << 20)) << "resident bytes";
  host.close_input();
  expect_quiet_exit(host);
}

TEST(FaultE2E, InputEndingInsideAFrameEndsTheHostUnanswered) {
  // Cut inside the first room the payload gets, and far into a large one that has grown
  // several times.
  for (std::size_t sent : {std::size_t{10}, std::size_t{5'000'000}}) {
    HostProcess host;
    std::string payload = R"({"id":1,"method":"get_version","params":")" + std::string(10'000'000, 'A') + "\"}";
    ASSERT_TRUE(host.send_raw(frame_header(static_cast<std::uint32_t>(payload.size())) + payload.substr(0, sent)));
    host.close_input();
    expect_quiet_exit(host);
  }
}

TEST(FaultE2E, ReaderLeavingMidReplyEndsTheHost) {
  HostProcess host;
  // The reply repeats the unknown name, so it is as large as the request.
  const std::string name(8'000'000, 'n');
  host.abandon_output_after(4 + 1000);
  ASSERT_TRUE(host.send_frame(R"({"id":1,"method":")" + name + "\"}"));
  EXPECT_EQ(host.wait_exit(20000), 0u);
  EXPECT_EQ(host.error_output(), "");
}

// A minimal PNG (1x1 RGB) with one extra critical chunk of the given type between the
// header and the data, which no decoder knows.
std::string png_with_chunk(std::string_view type) {
  const auto chunk = [](std::string_view kind, std::string_view data) {
    std::string out = frame_header(0);
    const auto n = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(n >> (24 - 8 * i));
    out.append(kind).append(data);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : std::string(kind) + std::string(data)) {
      crc ^= static_cast<unsigned char>(c);
      for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(crc >> (24 - 8 * i)));
    return out;
  };
  const std::string ihdr("\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 13);
  // zlib stream of one filtered row: filter 0 and three zero bytes, stored uncompressed.
  const std::string idat("\x78\x01\x01\x04\x00\xFB\xFF\x00\x00\x00\x00\x00\x04\x00\x01", 15);
  return std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", ihdr) + chunk(type, "") + chunk("IDAT", idat) +
         chunk("IEND", "");
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < bytes.size() ? kAlphabet[v & 63] : '=');
  }
  return out;
}

// Chunk types that are not text (one holding a zero byte): whatever the image checks say
// about them, the reply is one whole frame of well-formed UTF-8 that a strict reader
// takes, and the host goes on serving. (Decoder messages have quoted such type bytes
// raw; the writer's own handling of them is tested with the JSON writer.)
TEST(FaultE2E, PatternsWithNonTextChunkTypesGetWellFormedReplies) {
  HostProcess host;
  for (const std::string& type : {std::string("\xC1\xFF\x00T", 4), std::string("\x80"
                                                                               "AAA")}) {
    SCOPED_TRACE(::testing::PrintToString(type));
    const json request = {{"id", 5},
                          {"method", "search_image"},
                          {"params",
                           {{"image", {{"data", base64(std::string(12, '\x10'))}, {"width", 2}, {"height", 2}}},
                            {"pattern", {{"data", base64(png_with_chunk(type))}}}}}};
    ASSERT_TRUE(host.send_frame(to_json_text(request)));
    const std::optional<std::string> reply = host.read_frame();
    ASSERT_TRUE(reply);
    json parsed;  // the strict parser refuses malformed UTF-8
    ASSERT_TRUE(parse_json(*reply, parsed)) << ::testing::PrintToString(*reply);
    const std::string message = parsed["error"]["message"];
    EXPECT_EQ(message.rfind("bad_image: ", 0), 0u) << message;
    EXPECT_EQ(parsed["id"], 5);
  }
  EXPECT_EQ(host.call("get_version")["result"], "2.0.7");
}

}  // namespace
}  // namespace quorvane::standin
