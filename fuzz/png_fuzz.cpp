// PNG bytes as image parameters carry them: the header probe, the picture decoder and the
// DPI lookup. Where the probe and the decoder both accept a file they agree on its size;
// a decoded picture encodes and decodes again to the same pixels.
#include <cmath>

#include "common/utf.h"
#include "cv/image_input.h"
#include "cv/png.h"
#include "cv/stb_decode.h"
#include "fuzz_support.h"

using namespace quorvane;

static_assert(fuzz::kHostMaxPicturePixels == cv::kMaxPicturePixels, "the guard must know the host's pixel limit");

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);

  const quorvane::Result<cv::PngHeader> header = cv::probe_png(bytes);
  if (header) {
    FUZZ_CHECK(header->width > 0 && header->height > 0);
    FUZZ_CHECK(cv::png_channel_count(header->color_type) > 0);
  } else {
    FUZZ_CHECK(!header.error().empty() && is_valid_utf8(header.error()));
  }

  const double dpi = cv::png_dpi_or_default(bytes);
  FUZZ_CHECK(std::isfinite(dpi) && dpi >= 0.0);
  if (!header || !header->physical || header->physical->unit != 1 || header->physical->x_pixels_per_unit == 0)
    FUZZ_CHECK(dpi == 96.0);

  if (fuzz::too_costly_to_decode(bytes)) return 0;
  quorvane::Result<lumetra::RgbImage> picture = cv::decode_picture(bytes);
  if (!picture) {
    // The reason goes into a reply's message: text, and never empty.
    FUZZ_CHECK(!picture.error().empty() && is_valid_utf8(picture.error()));
    return 0;
  }
  FUZZ_CHECK(picture->well_formed());
  FUZZ_CHECK(picture->width > 0 && picture->height > 0);
  if (header) FUZZ_CHECK(header->width == picture->width && header->height == picture->height);

  if (std::uint64_t{picture->width} * picture->height > (1u << 16)) return 0;
  const auto encoded = cv::encode_png(picture->pixels.data(), picture->width, picture->height, 3, dpi);
  FUZZ_CHECK(encoded.ok());
  const auto reread = cv::probe_png(*encoded);
  FUZZ_CHECK(reread.ok() && reread->width == picture->width && reread->height == picture->height);
  const auto again = cv::decode_picture(*encoded);
  FUZZ_CHECK(again.ok() && again->pixels == picture->pixels);
  return 0;
}
