// Reading the image file named by an ocr_image request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::ocr {

// Reads the whole file at `path` (UTF-8, used as given) into `bytes`. On failure returns
// the system error text.
std::optional<std::string> read_image_file(std::string_view path, std::vector<std::uint8_t>& bytes);

}  // namespace quorvane::ocr
