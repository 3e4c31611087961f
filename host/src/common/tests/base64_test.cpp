#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/base64.h"
#include "lumetra/cpu.h"

namespace quorvane {
namespace {

namespace cpu = lumetra::cpu;

// The levels at which the codec changes path.
constexpr cpu::Level kPaths[] = {cpu::Level::Scalar, cpu::Level::Ssse3, cpu::Level::Avx2};

std::vector<std::uint8_t> random_bytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::optional<std::string> decode_error(std::string_view text) {
  std::vector<std::uint8_t> out{1, 2, 3};
  Result<void> decoded = base64_decode(text, out);
  if (decoded.ok()) return std::nullopt;
  EXPECT_TRUE(out.empty()) << text;
  return std::move(decoded).error();
}

std::string decoded_text(std::string_view text) {
  std::vector<std::uint8_t> out;
  const Result<void> decoded = base64_decode(text, out);
  EXPECT_TRUE(decoded.ok()) << text << ": " << (decoded.ok() ? "" : decoded.error());
  return std::string(out.begin(), out.end());
}

TEST(Base64, KnownVectors) {
  // The test vectors of RFC 4648, section 10.
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(base64_encode(plain), encoded);
    EXPECT_EQ(decoded_text(encoded), plain);
  }
  // All 64 symbols, both ends of the alphabet included.
  std::vector<std::uint8_t> ramp;
  for (int v = 0; v < 64; v += 4) {
    ramp.push_back(static_cast<std::uint8_t>(v << 2 | (v + 1) >> 4));
    ramp.push_back(static_cast<std::uint8_t>((v + 1) << 4 | (v + 2) >> 2));
    ramp.push_back(static_cast<std::uint8_t>((v + 2) << 6 | (v + 3)));
  }
  EXPECT_EQ(base64_encode(ramp.data(), ramp.size()),
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64, AppendKeepsExistingText) {
  std::string out = "prefix:";
  base64_encode_append("foob", 4, out);
  EXPECT_EQ(out, "prefix:Zm9vYg==");
}

TEST(Base64, RoundTripsEveryShortLengthOnEveryPath) {
  std::mt19937 rng(1234);
  for (std::size_t n = 0; n <= 100; ++n) {
    const auto bytes = random_bytes(rng, n);
    cpu::for_each_level(kPaths, [&](cpu::Level level) {
      std::string text;
      base64_encode_append(bytes.data(), bytes.size(), text);
      ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
      std::vector<std::uint8_t> back;
      ASSERT_TRUE(base64_decode(text, back).ok()) << n;
      ASSERT_EQ(back, bytes) << "length " << n << " " << cpu::level_name(level);
    });
  }
}

TEST(Base64, VectorPathsMatchPlainPathOnLongInputs) {
  std::printf("note: widest path here: %s\n", cpu::level_name(cpu::detected_level()));

  std::mt19937 rng(99);
  // Lengths around the internal chunk sizes and vector widths, and one of a few MB.
  for (std::size_t n : {6143u, 6144u, 6145u, 6146u, 8191u, 12288u, 100000u, 3u * 1024 * 1024 + 1}) {
    const auto bytes = random_bytes(rng, n);
    std::string reference;
    {
      const cpu::ScopedCap plain(cpu::Level::Scalar);
      base64_encode_append(bytes.data(), bytes.size(), reference);
    }
    cpu::for_each_level(kPaths, [&](cpu::Level level) {
      std::string text;
      base64_encode_append(bytes.data(), bytes.size(), text);
      ASSERT_EQ(text, reference) << n << " " << cpu::level_name(level);
      std::vector<std::uint8_t> back;
      ASSERT_TRUE(base64_decode(reference, back).ok());
      ASSERT_EQ(back, bytes) << n << " " << cpu::level_name(level);
    });
  }
}

TEST(Base64, VectorPathsReportTheFirstBadSymbolExactly) {
  // A bad byte anywhere in a long text, on every path, must give the scalar message:
  // the vector loops only detect trouble and let the scalar code name it.
  std::mt19937 rng(7);
  const auto bytes = random_bytes(rng, 30000);
  const std::string good = base64_encode(bytes.data(), bytes.size());
  const char bad_bytes[] = {'=', '-', '_', ' ', '\n', '\0', '\x80', '\xff', '.', '@', '[', '`', '{'};
  for (int trial = 0; trial < 300; ++trial) {
    std::string text = good;
    const std::size_t pos = rng() % (text.size() - 4);  // before the final group
    const char bad = bad_bytes[rng() % sizeof bad_bytes];
    text[pos] = bad;
    if (rng() % 2) text[pos + 1 + rng() % (text.size() - pos - 1)] = '*';  // a later one must not win
    const std::string expected =
        "Invalid symbol " + std::to_string(static_cast<unsigned char>(bad)) + ", offset " + std::to_string(pos) + ".";
    cpu::for_each_level(kPaths, [&](cpu::Level level) {
      std::vector<std::uint8_t> out;
      EXPECT_EQ(base64_decode(text, out).error(), expected) << cpu::level_name(level);
    });
  }
}

TEST(Base64, EveryCharacterOutsideTheAlphabetIsRejected) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int c = 0; c < 256; ++c) {
    if (alphabet.find(static_cast<char>(c)) != std::string::npos) continue;
    cpu::for_each_level(kPaths, [&](cpu::Level level) {
      // Offset 37 lies inside the first vector block of every path.
      std::string text(64, 'A');
      text[37] = static_cast<char>(c);
      std::vector<std::uint8_t> out;
      EXPECT_EQ(base64_decode(text, out).error(), "Invalid symbol " + std::to_string(c) + ", offset 37.")
          << cpu::level_name(level);
    });
  }
}

TEST(Base64, Messages) {
  // Outside the alphabet, anywhere.
  EXPECT_EQ(decode_error("Zm9v!mFy"), "Invalid symbol 33, offset 4.");
  EXPECT_EQ(decode_error("Zm9vYmF\n"), "Invalid symbol 10, offset 7.");
  EXPECT_EQ(decode_error(" Zm9v"), "Invalid symbol 32, offset 0.");
  EXPECT_EQ(decode_error("Zm9vYg==\n"), "Invalid symbol 61, offset 6.");  // padding mid-text comes first
  EXPECT_EQ(decode_error("Zm-_"), "Invalid symbol 45, offset 2.");        // URL-safe alphabet is not ours
  // '=' where no padding can be: before the final group, in its first two places, or
  // followed by a symbol.
  EXPECT_EQ(decode_error("Zg==Zm9v"), "Invalid symbol 61, offset 2.");
  EXPECT_EQ(decode_error("===="), "Invalid symbol 61, offset 0.");
  EXPECT_EQ(decode_error("=="), "Invalid symbol 61, offset 0.");
  EXPECT_EQ(decode_error("Z==="), "Invalid symbol 61, offset 1.");
  EXPECT_EQ(decode_error("Zm9v===="), "Invalid symbol 61, offset 4.");
  EXPECT_EQ(decode_error("Zm=v"), "Invalid symbol 61, offset 2.");
  EXPECT_EQ(decode_error("Zm9vZ="), "Invalid symbol 61, offset 5.");
  EXPECT_EQ(decode_error("Zm9v="), "Invalid symbol 61, offset 4.");
  // One symbol left over: no byte can come of it.
  EXPECT_EQ(decode_error("Z"), "Invalid input length: 1");
  EXPECT_EQ(decode_error("Zm9vY"), "Invalid input length: 5");
  // Two or three symbols without their padding, or with too little of it.
  EXPECT_EQ(decode_error("Zg"), "Invalid padding");
  EXPECT_EQ(decode_error("Zm8"), "Invalid padding");
  EXPECT_EQ(decode_error("Zg="), "Invalid padding");
  EXPECT_EQ(decode_error("Zm9vYmE"), "Invalid padding");
  // Unused bits of the last symbol set: 'h' (33) and 'Z' (25) leave low bits behind.
  EXPECT_EQ(decode_error("Zh=="), "Invalid last symbol 104, offset 1.");
  EXPECT_EQ(decode_error("Zm9="), "Invalid last symbol 57, offset 2.");
  EXPECT_EQ(decode_error("Zm9vZm9="), "Invalid last symbol 57, offset 6.");
}

TEST(Base64, MessagePrecedence) {
  // The earliest bad symbol wins over a later one and over every other problem.
  EXPECT_EQ(decode_error("Zm!v*"), "Invalid symbol 33, offset 2.");
  EXPECT_EQ(decode_error("Zm9!Y"), "Invalid symbol 33, offset 3.");  // not the length
  EXPECT_EQ(decode_error("Zh!"), "Invalid symbol 33, offset 2.");    // not the padding
  EXPECT_EQ(decode_error("Z!=="), "Invalid symbol 33, offset 1.");
  EXPECT_EQ(decode_error("Zm9vY\n"), "Invalid symbol 10, offset 5.");  // not the padding
  // Length before padding and last-symbol checks; padding before the last symbol.
  EXPECT_EQ(decode_error("Zm9vh"), "Invalid input length: 5");
  EXPECT_EQ(decode_error("Zh"), "Invalid padding");
  EXPECT_EQ(decode_error("Zh="), "Invalid padding");
}

TEST(Base64, EmptyInputDecodesToNothing) {
  std::vector<std::uint8_t> out{9};
  EXPECT_TRUE(base64_decode("", out).ok());
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(base64_encode("", 0), "");
}

TEST(Base64, DecodeReplacesPreviousContents) {
  std::vector<std::uint8_t> out{9, 9, 9, 9, 9};
  ASSERT_TRUE(base64_decode("Zm8=", out).ok());
  EXPECT_EQ(out, (std::vector<std::uint8_t>{'f', 'o'}));
}

}  // namespace
}  // namespace quorvane
