// Base64: every instruction-set path decodes to the same bytes or fails with the same
// message; what decodes re-encodes to the very input (the codec accepts only canonical
// text); and the input taken as bytes encodes identically everywhere and decodes back.
#include "common/base64.h"
#include "fuzz_support.h"
#include "lumetra/cpu.h"

using namespace quorvane;
namespace cpu = lumetra::cpu;

namespace {

// The levels at which the codec changes path.
constexpr cpu::Level kPaths[] = {cpu::Level::Scalar, cpu::Level::Ssse3, cpu::Level::Avx2};

bool is_documented_message(const std::string& m) {
  return m.starts_with("Invalid symbol ") || m.starts_with("Invalid input length: ") ||
         m.starts_with("Invalid last symbol ") || m == "Invalid padding";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);

  std::vector<std::uint8_t> first_bytes;
  // One decode's outcome: nullopt, or the decoder's message.
  const auto outcome = [&](std::vector<std::uint8_t>& bytes) -> std::optional<std::string> {
    Result<void> decoded = base64_decode(text, bytes);
    if (decoded.ok()) return std::nullopt;
    return std::move(decoded).error();
  };
  std::optional<std::string> first_error;
  {
    const cpu::ScopedCap plain(cpu::Level::Scalar);
    first_error = outcome(first_bytes);
  }
  if (first_error) {
    FUZZ_CHECK(is_documented_message(*first_error));
    FUZZ_CHECK(first_bytes.empty());
  }
  cpu::for_each_level(kPaths, [&](cpu::Level) {
    std::vector<std::uint8_t> bytes{0x55};  // the decoder must replace what was there
    const std::optional<std::string> error = outcome(bytes);
    FUZZ_CHECK(error == first_error);
    FUZZ_CHECK(bytes == first_bytes);
  });

  if (!first_error) {
    FUZZ_CHECK(first_bytes.size() == text.size() / 4 * 3 - (text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0));
    cpu::for_each_level(kPaths, [&](cpu::Level) {
      std::string encoded;
      base64_encode_append(first_bytes.data(), first_bytes.size(), encoded);
      FUZZ_CHECK(encoded == text);
    });
  }

  // The input as bytes, appended after text that must stay untouched.
  const std::string reference = base64_encode(data, size);
  FUZZ_CHECK(reference.size() == (size + 2) / 3 * 4);
  cpu::for_each_level(kPaths, [&](cpu::Level) {
    std::string encoded = "prefix";
    base64_encode_append(data, size, encoded);
    FUZZ_CHECK(encoded.substr(0, 6) == "prefix" && encoded.substr(6) == reference);
  });
  std::vector<std::uint8_t> back;
  FUZZ_CHECK(base64_decode(reference, back).ok());
  FUZZ_CHECK(back.size() == size && (size == 0 || std::equal(back.begin(), back.end(), data)));
  return 0;
}
