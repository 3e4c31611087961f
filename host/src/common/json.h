// Strict JSON text <-> nlohmann::json value.
//
// The value model is nlohmann's default `json`: objects are std::map in ascending byte
// order of keys, numbers are unsigned 64-bit, negative signed 64-bit or double. The
// parser and writer are our own: the library's lexer and dump() are far too slow for
// requests and replies that carry megabytes of Base64.
#pragma once

#include <string>
#include <string_view>

#include "common/handler.h"

namespace quorvane {

// Parses one complete JSON text (RFC 8259, strict). Returns false, leaving `out`
// unspecified, on any error: syntax, trailing non-whitespace, nesting deeper than 127,
// a byte-order mark, invalid UTF-8, an unpaired surrogate escape, or a number outside
// the range of a double. A repeated object key keeps its last value.
// Numbers: an integer literal (no fraction, no exponent) that fits becomes unsigned when
// it is >= 0 and signed when it is < 0; "-0" is zero and so becomes unsigned 0. Every other
// literal becomes a double; one too small for a double becomes a zero of its sign.
bool parse_json(std::string_view text, json& out);

// Appends the compact serialisation of `value` to `out`: sorted keys, no whitespace,
// minimal escaping ("\u00xx" lower-case, '/' and non-ASCII raw), shortest round-trip
// floats always with a fraction or exponent, non-finite floats as null.
void write_json(const json& value, std::string& out);

inline std::string to_json_text(const json& value) {
  std::string out;
  write_json(value, out);
  return out;
}

// String scanning uses AVX2, SSE2 or plain loops, the widest lumetra::cpu::level()
// allows; tests cap that level to cover every path on any machine.
namespace json_detail {
// The writer's check for well-formed UTF-8 (vector blocks with AVX2, else byte by byte).
bool well_formed_utf8(std::string_view text);
}  // namespace json_detail

}  // namespace quorvane
