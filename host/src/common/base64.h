// TEMPORARY NOTE TO THE ENGINEER (delete this line when you edit the file): the house rules in /work/brief-rules.md are binding for your work (naming, tests, shared-tree git rules, build dirs). Read them now.
// Base64, standard alphabet with '=' padding. Output is always padded and has no line
// breaks; input must be canonical (length a multiple of four, padding only where
// required, unused bits of the last symbol zero, nothing outside the alphabet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

std::string base64_encode(const void* data, std::size_t size);
inline std::string base64_encode(std::string_view bytes) { return base64_encode(bytes.data(), bytes.size()); }

// Appends the encoding of `size` bytes to `out` (for writers that build a larger text).
void base64_encode_append(const void* data, std::size_t size, std::string& out);

// Decodes `text` into `out` (replacing its contents). On failure returns the decoder's
// message, one of:
//   "Invalid symbol {byte}, offset {offset}."
//   "Invalid input length: {length}"
//   "Invalid last symbol {byte}, offset {offset}."
//   "Invalid padding"
std::optional<std::string> base64_decode(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace quorvane
