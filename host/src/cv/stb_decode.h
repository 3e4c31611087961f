// The picture decoder behind image parameters. Kept apart so the one translation unit
// that compiles stb_image's implementation stays small.
#pragma once

#include "cv/result.h"

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <span>

namespace quorvane::cv {

// PNG only; any other signature fails. See decode_picture.
Result<lumetra::RgbImage> stb_decode_rgb(std::span<const std::uint8_t> bytes);

}  // namespace quorvane::cv
