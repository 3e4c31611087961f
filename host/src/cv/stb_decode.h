// The picture decoder behind image parameters. Kept apart so the one translation unit
// that compiles stb_image's implementation stays small.
#pragma once

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <span>

#include "common/result.h"

namespace quorvane::cv {

// The most pixels a picture may have to be decoded: 2^27 = 134,217,728. The largest
// desktops in use, three 8K monitors side by side (23040x4320), come to about 99.5
// million pixels, so any real screenshot or crop fits, while a few hundred bytes of PNG
// can no longer ask for gigabytes: at the limit an 8-bit RGB picture needs about 400 MB
// of inflated rows plus 400 MB of result.
inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 27;

// PNG only; any other signature fails. The bytes are run through check_png (chunk
// framing, lengths within the data, CRCs) and the header through kMaxPicturePixels
// before the decoder sees them. See decode_picture.
Result<lumetra::RgbImage> stb_decode_rgb(std::span<const std::uint8_t> bytes);

}  // namespace quorvane::cv
