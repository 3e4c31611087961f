#include "main/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace quorvane {
namespace {

// Hands out its bytes in pieces of at most `chunk`, like a pipe that returns partial reads.
class MemoryInput final : public InputStream {
public:
  explicit MemoryInput(std::string bytes, std::size_t chunk = 7) : bytes_(std::move(bytes)), chunk_(chunk) {}
  std::size_t read(void* buffer, std::size_t size) override {
    std::size_t n = std::min({size, chunk_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }

private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

class MemoryOutput final : public OutputStream {
public:
  bool write(const void* data, std::size_t size) override {
    ++writes;
    if (fail_after_writes >= 0 && writes > fail_after_writes) return false;
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  bool flush() override {
    ++flushes;
    return true;
  }
  std::string bytes;
  int writes = 0;
  int flushes = 0;
  int fail_after_writes = -1;
};

std::string frame(std::string_view payload) {
  std::string out(4, '\0');
  auto n = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  out.append(payload);
  return out;
}

std::string serve(std::string input, MemoryOutput& out) {
  MemoryInput in(std::move(input));
  serve_requests(in, out);
  return out.bytes;
}

std::string serve(std::string input) {
  MemoryOutput out;
  return serve(std::move(input), out);
}

TEST(Transport, LengthIsLittleEndian) {
  MemoryInput in(std::string("\x0F\x00\x00\x00", 4) + "0123456789abcde" + "tail");
  std::optional<FrameBuffer> f = read_frame(in);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->view(), "0123456789abcde");
}

TEST(Transport, IncompleteFramesEndTheLoop) {
  MemoryInput header_cut(std::string("\x05\x00", 2));
  EXPECT_FALSE(read_frame(header_cut));
  MemoryInput payload_cut(std::string("\x05\x00\x00\x00" "abc", 7));
  EXPECT_FALSE(read_frame(payload_cut));
  MemoryInput empty("");
  EXPECT_FALSE(read_frame(empty));
}

TEST(Transport, AnswersEachFrameInTwoWritesAndAFlush) {
  MemoryOutput out;
  std::string replies = serve(frame(R"({"id":1,"method":"get_version"})") + frame(R"({"id":2,"method":"nope"})"), out);
  EXPECT_EQ(replies, frame(R"({"id":1,"result":"2.0.7"})") + frame(R"({"error":{"message":"Unknown method: nope"},"id":2})"));
  EXPECT_EQ(out.writes, 4);
  EXPECT_EQ(out.flushes, 2);
}

TEST(Transport, SurroundingWhitespaceIsAccepted) {
  EXPECT_EQ(serve(frame("  {\"id\":1,\"method\":\"get_version\"}\n")), frame(R"({"id":1,"result":"2.0.7"})"));
}

TEST(Transport, MalformedPayloadStopsWithoutReply) {
  const std::string good = frame(R"({"id":9,"method":"get_version"})");
  for (std::string bad : {std::string(R"({"id":1,"method":"get_version"} x)"), std::string(""),
                          std::string("\xEF\xBB\xBF{}"), std::string("{\"a\":\"\xFF\"}"),
                          std::string(128, '[') + std::string(128, ']')}) {
    EXPECT_EQ(serve(good + frame(bad) + good), frame(R"({"id":9,"result":"2.0.7"})")) << bad;
  }
}

TEST(Transport, NestingLimit) {
  std::string deep = R"({"id":1,"method":"get_version","params":)" + std::string(126, '[') + std::string(126, ']') + "}";
  EXPECT_EQ(serve(frame(deep)), frame(R"({"id":1,"result":"2.0.7"})"));
}

TEST(Transport, ValidJsonThatIsNotAnObjectKeepsTheLoopGoing) {
  EXPECT_EQ(serve(frame("[1,2,3]") + frame(R"({"id":2,"method":"get_version"})")),
            frame(R"({"error":{"message":"Unknown method: "},"id":null})") + frame(R"({"id":2,"result":"2.0.7"})"));
}

TEST(Transport, WriteFailureStopsTheLoop) {
  MemoryOutput out;
  out.fail_after_writes = 1;  // the length goes out, the payload does not
  serve(frame(R"({"id":1,"method":"get_version"})") + frame(R"({"id":2,"method":"get_version"})"), out);
  EXPECT_EQ(out.writes, 2);
}

TEST(Transport, HugeDeclaredLengthEndsQuietly) {
  // 4 GiB - 1 announced but only a few bytes follow: either the buffer is refused or the
  // read comes up short; in both cases the loop ends with no reply.
  EXPECT_EQ(serve(std::string("\xFF\xFF\xFF\xFF{}", 6)), "");
}

}  // namespace
}  // namespace quorvane
