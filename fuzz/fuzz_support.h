// What the fuzz programs share: a failing property aborts with a message (libFuzzer then
// keeps the input), and a few guards against inputs whose only effect would be to
// exhaust the fuzzer's memory.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/base64.h"
#include "common/handler.h"

namespace quorvane::fuzz {

[[noreturn]] inline void property_failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "property failed: %s (%s:%d)\n", what, file, line);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::quorvane::fuzz::property_failed(#condition, __FILE__, __LINE__))

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Values equal in kind as well as in value: a float never equals an integer of the same
// magnitude (1.0 must come back as a float), and a float's sign survives (-0.0 stays
// negative). Integers compare by value across signed and unsigned.
inline bool same_value(const json& a, const json& b) {
  const bool a_int = a.is_number_integer();
  const bool b_int = b.is_number_integer();
  if (a_int || b_int) return a_int && b_int && a == b;
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case json::value_t::number_float: {
      const double x = a.get<double>();
      const double y = b.get<double>();
      return x == y && std::signbit(x) == std::signbit(y);
    }
    case json::value_t::array: {
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < a.size(); ++i)
        if (!same_value(a[i], b[i])) return false;
      return true;
    }
    case json::value_t::object: {
      if (a.size() != b.size()) return false;
      for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib)
        if (ia.key() != ib.key() || !same_value(*ia, *ib)) return false;
      return true;
    }
    default:
      return a == b;
  }
}

// Containers nested inside `value` at the deepest point (a scalar is 0, [] is 1).
inline std::size_t nesting_depth(const json& value) {
  if (!value.is_structured()) return 0;
  std::size_t deepest = 0;
  for (const json& child : value) deepest = std::max(deepest, nesting_depth(child));
  return deepest + 1;
}

// Pictures the host accepts but that are large (up to kMaxPicturePixels, hundreds of
// megabytes decoded) are left out: decoding them takes seconds under the sanitizers, and a
// campaign learns nothing from them that a small picture does not teach. Pictures beyond
// the limit stay in, since the host must refuse them unread.
inline constexpr std::uint64_t kMaxFuzzPixels = std::uint64_t{1} << 22;
// The host's own limit (cv::kMaxPicturePixels; png_fuzz.cpp checks that they agree).
inline constexpr std::uint64_t kHostMaxPicturePixels = std::uint64_t{1} << 27;

inline bool too_costly_to_decode(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 24) return false;
  const auto be32 = [&](std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           std::uint32_t{bytes[at + 3]};
  };
  // Signature (8), IHDR length and type (8), then the big-endian width and height.
  const std::uint64_t pixels = std::uint64_t{be32(16)} * be32(20);
  return pixels > kMaxFuzzPixels && pixels <= kHostMaxPicturePixels;
}

// True when any string anywhere in `value` is Base64 of such a picture (the request
// members that carry pictures are strings of Base64).
inline bool carries_costly_picture(const json& value) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() < 32) return false;
    std::vector<std::uint8_t> bytes;
    return base64_decode(text, bytes).ok() && too_costly_to_decode(bytes);
  }
  if (value.is_structured())
    for (const json& child : value)
      if (carries_costly_picture(child)) return true;
  return false;
}

// A reply as every request must get one: an object with the request's id and exactly one
// of result or error, the error an object whose message is a string.
inline bool is_valid_envelope(const json& reply, const json& expected_id) {
  if (!reply.is_object() || !reply.contains("id") || !same_value(reply["id"], expected_id)) return false;
  if (reply.size() != 2) return false;
  if (reply.contains("result")) return true;
  const auto error = reply.find("error");
  if (error == reply.end() || !error->is_object()) return false;
  const auto message = error->find("message");
  return message != error->end() && message->is_string();
}

// The id a reply must carry for `request`: its id member, or null.
inline json expected_id(const json& request) {
  if (request.is_object())
    if (auto it = request.find("id"); it != request.end()) return *it;
  return json();
}

}  // namespace quorvane::fuzz
