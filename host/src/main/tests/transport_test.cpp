#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "main/transport.h"

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
  MemoryInput payload_cut(
      std::string("\x05\x00\x00\x00"
                  "abc",
                  7));
  EXPECT_FALSE(read_frame(payload_cut));
  MemoryInput empty("");
  EXPECT_FALSE(read_frame(empty));
}

TEST(Transport, AnswersEachFrameInTwoWritesAndAFlush) {
  MemoryOutput out;
  std::string replies = serve(frame(R"({"id":1,"method":"get_version"})") + frame(R"({"id":2,"method":"nope"})"), out);
  EXPECT_EQ(replies,
            frame(R"({"id":1,"result":"2.0.7"})") + frame(R"({"error":{"message":"Unknown method: nope"},"id":2})"));
  EXPECT_EQ(out.writes, 4);
  EXPECT_EQ(out.flushes, 2);
}

TEST(Transport, SurroundingWhitespaceIsAccepted) {
  EXPECT_EQ(serve(frame("  {\"id\":1,\"method\":\"get_version\"}\n")), frame(R"({"id":1,"result":"2.0.7"})"));
}

TEST(Transport, MalformedPayloadStopsWithoutReply) {
  const std::string good = frame(R"({"id":9,"method":"get_version"})");
  for (std::string bad :
       {std::string(R"({"id":1,"method":"get_version"} x)"), std::string(""), std::string("\xEF\xBB\xBF{}"),
        std::string("{\"a\":\"\xFF\"}"), std::string(128, '[') + std::string(128, ']')}) {
    EXPECT_EQ(serve(good + frame(bad) + good), frame(R"({"id":9,"result":"2.0.7"})")) << bad;
  }
}

TEST(Transport, NestingLimit) {
  std::string deep =
      R"({"id":1,"method":"get_version","params":)" + std::string(126, '[') + std::string(126, ']') + "}";
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

// Hands out `bytes` and records, for every read, the room it was offered and how many
// payload bytes (past the 4-byte header) had been handed out before it.
class RecordingInput final : public InputStream {
 public:
  RecordingInput(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  std::size_t read(void* buffer, std::size_t size) override {
    offers.push_back({size, pos_ > 4 ? pos_ - 4 : 0});
    std::size_t n = std::min({size, chunk_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  struct Offer {
    std::size_t room;
    std::size_t received;
  };
  std::vector<Offer> offers;

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

TEST(Transport, MemoryFollowsTheBytesThatArriveNotTheDeclaredLength) {
  // 4 GiB - 1 announced, a few bytes sent, then the input ends: the loop ends with no
  // reply, and the buffer never grew past its first modest size.
  {
    MemoryOutput out;
    RecordingInput in(std::string("\xFF\xFF\xFF\xFF{\"id\":", 10), 1 << 20);
    serve_requests(in, out);
    EXPECT_EQ(out.bytes, "");
    for (const auto& offer : in.offers) EXPECT_LE(offer.room, FrameBuffer::kInitialCapacity);
  }
  // Frames that do arrive whole are intact whatever their size relative to the growth
  // steps and whatever pieces the input hands out, and the room offered stays within
  // twice what has arrived (so memory is at most about double the bytes received).
  const std::size_t k = FrameBuffer::kInitialCapacity;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, k - 1, k, k + 1, 2 * k, 3 * k + 5, std::size_t{1} << 20,
                           (std::size_t{1} << 20) + 1, std::size_t{3'000'001}}) {
    for (std::size_t chunk : {std::size_t{4093}, std::size_t{1} << 30}) {
      SCOPED_TRACE(std::to_string(size) + " bytes in pieces of " + std::to_string(chunk));
      std::string payload(size, '\0');
      for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 131 + i / 251);
      RecordingInput in(frame(payload) + "next", chunk);
      std::optional<FrameBuffer> f = read_frame(in);
      ASSERT_TRUE(f);
      ASSERT_TRUE(f->view() == payload);
      for (const auto& offer : in.offers) ASSERT_LE(offer.room, std::max(k, offer.received));
    }
  }
}

TEST(Transport, InputEndingInsideALargeFrameEndsTheLoop) {
  std::string payload = R"({"id":1,"method":"get_version","params":")" + std::string(3'000'000, 'A') + "\"}";
  const std::string whole = frame(payload);
  EXPECT_NE(serve(whole), "");
  for (std::size_t cut : {std::size_t{5}, std::size_t{70'000}, whole.size() - 1})
    EXPECT_EQ(serve(whole.substr(0, cut)), "") << cut;
}

}  // namespace
}  // namespace quorvane
