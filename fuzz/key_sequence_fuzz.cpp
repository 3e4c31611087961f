// Key sequences: parsing never fails in any way but "bad_key: ...", the literal text
// between ${...} tokens is typed exactly as given (tokens never type text), and every
// action has a printable form.
#include "fuzz_support.h"
#include "input/key_sequence.h"

using namespace quorvane;
using namespace quorvane::input;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  KeySequence sequence = parse_key_sequence(text);
  if (!sequence.ok()) {
    FUZZ_CHECK(sequence.error().starts_with("bad_key: "));
    return 0;
  }

  std::string literal;
  for (std::size_t pos = 0; pos < text.size();) {
    if (text.substr(pos, 2) == "${") {
      const std::size_t close = text.find('}', pos + 2);
      FUZZ_CHECK(close != std::string_view::npos);
      pos = close + 1;
    } else {
      literal += text[pos++];
    }
  }
  std::string typed;
  for (const InputAction& action : sequence.value()) {
    FUZZ_CHECK(!action_text(action).empty());
    const auto* type = std::get_if<TypeText>(&action);
    if (type) {
      FUZZ_CHECK(!type->text.empty());
      typed += type->text;
    }
  }
  FUZZ_CHECK(typed == literal);
  return 0;
}
