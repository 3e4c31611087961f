// Reading the image file named by an ocr_image request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quorvane::ocr {

// Reads the whole file at `path` (UTF-8, used as given) into `bytes`. A failure carries
// the system error text.
Result<void> read_image_file(std::string_view path, std::vector<std::uint8_t>& bytes);

}  // namespace quorvane::ocr
