// Base64: every instruction-set path decodes to the same bytes or fails with the same
// message; what decodes re-encodes to the very input (the codec accepts only canonical
// text); and the input taken as bytes encodes identically everywhere and decodes back.
#include "common/base64.h"
#include "fuzz_support.h"

#include <array>

using namespace quorvane;
using base64_detail::Isa;

namespace {

constexpr std::array kIsas = {Isa::scalar, Isa::ssse3, Isa::avx2};

bool is_documented_message(const std::string& m) {
  return m.starts_with("Invalid symbol ") || m.starts_with("Invalid input length: ") ||
         m.starts_with("Invalid last symbol ") || m == "Invalid padding";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);

  std::vector<std::uint8_t> first_bytes;
  const std::optional<std::string> first_error = base64_detail::decode_with(Isa::scalar, text, first_bytes);
  if (first_error) {
    FUZZ_CHECK(is_documented_message(*first_error));
    FUZZ_CHECK(first_bytes.empty());
  }
  for (Isa isa : kIsas) {
    if (!base64_detail::isa_supported(isa)) continue;
    std::vector<std::uint8_t> bytes{0x55};  // the decoder must replace what was there
    const std::optional<std::string> error = base64_detail::decode_with(isa, text, bytes);
    FUZZ_CHECK(error == first_error);
    FUZZ_CHECK(bytes == first_bytes);
  }
  std::vector<std::uint8_t> default_bytes;
  const Result<void> decoded = base64_decode(text, default_bytes);
  FUZZ_CHECK(decoded.ok() ? !first_error : decoded.error() == first_error);

  if (!first_error) {
    FUZZ_CHECK(first_bytes.size() == text.size() / 4 * 3 - (text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0));
    for (Isa isa : kIsas) {
      if (!base64_detail::isa_supported(isa)) continue;
      std::string encoded;
      base64_detail::encode_append_with(isa, first_bytes.data(), first_bytes.size(), encoded);
      FUZZ_CHECK(encoded == text);
    }
  }

  // The input as bytes, appended after text that must stay untouched.
  const std::string reference = base64_encode(data, size);
  FUZZ_CHECK(reference.size() == (size + 2) / 3 * 4);
  for (Isa isa : kIsas) {
    if (!base64_detail::isa_supported(isa)) continue;
    std::string encoded = "prefix";
    base64_detail::encode_append_with(isa, data, size, encoded);
    FUZZ_CHECK(encoded.substr(0, 6) == "prefix" && encoded.substr(6) == reference);
  }
  std::vector<std::uint8_t> back;
  FUZZ_CHECK(base64_decode(reference, back).ok());
  FUZZ_CHECK(back.size() == size && (size == 0 || std::equal(back.begin(), back.end(), data)));
  return 0;
}
