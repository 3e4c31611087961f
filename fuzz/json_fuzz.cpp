// The JSON text parser and writer: every string scanner gives the same verdict, what is
// accepted survives a write and a second parse unchanged, and nlohmann's own strict
// parser agrees on acceptance and value wherever the two grammars coincide.
#include <optional>

#include "common/json.h"
#include "fuzz_support.h"
#include "lumetra/cpu.h"

using namespace quorvane;

namespace {

std::optional<json> parse_at(std::string_view text, lumetra::cpu::Level level) {
  const lumetra::cpu::ScopedCap cap(level);
  json value;
  if (!parse_json(text, value)) return std::nullopt;
  return value;
}

std::optional<json> reference_parse(std::string_view text) {
  try {
    return json::parse(text);
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);

  const std::optional<json> wide = parse_at(text, lumetra::cpu::kWidest);
  for (const auto narrower : {lumetra::cpu::Level::Sse2, lumetra::cpu::Level::Scalar}) {
    const std::optional<json> narrow = parse_at(text, narrower);
    FUZZ_CHECK(wide.has_value() == narrow.has_value());
    if (wide) FUZZ_CHECK(fuzz::same_value(*wide, *narrow));
  }

  // Where the grammars differ by design: nlohmann skips a leading byte-order mark and has
  // no nesting limit, while ours refuses both. Its lexer also takes a zero byte for the
  // end of the input, so it accepts "[1]\0junk"; such texts are not compared.
  const bool bom = text.starts_with("\xEF\xBB\xBF");
  const bool zero_byte = text.find('\0') != std::string_view::npos;
  const std::optional<json> reference = zero_byte ? std::nullopt : reference_parse(text);
  if (zero_byte) {
    // nothing to compare with
  } else if (!bom) {
    if (wide) {
      FUZZ_CHECK(reference.has_value());
      FUZZ_CHECK(fuzz::same_value(*wide, *reference));
    } else if (reference) {
      FUZZ_CHECK(fuzz::nesting_depth(*reference) > 127);
    }
  } else {
    FUZZ_CHECK(!wide);
  }

  if (!wide) return 0;
  const std::string written = to_json_text(*wide);
  const std::optional<json> again = parse_at(written, lumetra::cpu::kWidest);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(fuzz::same_value(*wide, *again));
  FUZZ_CHECK(to_json_text(*again) == written);
  return 0;
}
