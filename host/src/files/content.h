// The portable half of the file content methods: range arithmetic and result shapes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/handler.h"

namespace quorvane::files {

// One ranged read returns at most this many bytes.
inline constexpr std::uint64_t kMaxFileRange = 524288;

// `rangeStart`: a JSON integer of 0 or more; anything else reads from the start.
std::uint64_t range_start_param(const json& params);

// How many bytes a ranged read starting at `start` returns from a file of `size` bytes.
constexpr std::uint64_t range_length(std::uint64_t size, std::uint64_t start) {
  if (start >= size) return 0;
  std::uint64_t left = size - start;
  return left < kMaxFileRange ? left : kMaxFileRange;
}

// {"buffer": Base64 of `bytes`, "rangeEnd": start + size, "rangeStart": start}
json range_result(std::uint64_t start, std::string_view bytes);

// {"content": ..., "errorCode": 0} on success; {"content": "", "errorCode": 1} on failure.
json content_success(std::string content);
json content_failure();

// Method get_max_file_range: kMaxFileRange, on every platform.
HandlerResult get_max_file_range(std::string_view method, const json& params);

}  // namespace quorvane::files
