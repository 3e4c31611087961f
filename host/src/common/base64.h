// Base64, standard alphabet with '=' padding. Output is always padded and has no line
// breaks; input must be canonical (length a multiple of four, padding only where
// required, unused bits of the last symbol zero, nothing outside the alphabet).
// The codec uses the widest instructions lumetra::cpu::level() allows (AVX2, SSSE3 or
// plain C++); tests cap that level to prove every path gives the same bytes and the same
// messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quorvane {

std::string base64_encode(const void* data, std::size_t size);
inline std::string base64_encode(std::string_view bytes) { return base64_encode(bytes.data(), bytes.size()); }

// Appends the encoding of `size` bytes to `out` (for writers that build a larger text).
void base64_encode_append(const void* data, std::size_t size, std::string& out);

// Decodes `text` into `out` (replacing its contents). A failure carries the decoder's
// message, one of:
//   "Invalid symbol {byte}, offset {offset}."
//   "Invalid input length: {length}"
//   "Invalid last symbol {byte}, offset {offset}."
//   "Invalid padding"
// When several apply, the first in this order wins:
//   1. Symbols are checked in order from offset 0, and the first bad one is reported as
//      "Invalid symbol" with its decimal byte value and offset. Bad means outside the
//      alphabet, or '=' anywhere but the last two places of the final group (the last
//      four characters, or the last one to three when the length is not a multiple of
//      four). A symbol after '=' reports the first '=' of that group.
//   2. "Invalid input length: {length}" when one symbol is left over after the last
//      whole group (length % 4 == 1): six bits can never make a byte.
//   3. "Invalid padding" when the final group is not four characters (length % 4 of 2
//      or 3, with or without '='): the text is missing its padding.
//   4. "Invalid last symbol" when the last symbol before the padding has unused low
//      bits that are not zero, with that symbol's offset.
// On failure `out` is left empty. Empty input decodes to nothing.
Result<void> base64_decode(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace quorvane
