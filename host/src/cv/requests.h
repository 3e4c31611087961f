// cv/: what the host sees on the screen. Displays (display.h), the capture of the browser's
// monitor and capture files (capture.h, with our own PNG encoder and deflate), image inputs
// (image_input.h, PNG through stb), the image search (find_image.h) and its methods
// (search_image.h, screen_search.h), and the colour methods (color_methods.h). Every reply
// text is in errors.h. It may use common/, window/ (which browser window is in front),
// lumetra-core (matching, resizing, colour regions), zlib and stb_image; Win32 only in
// *_win32 files.
//
// This header: the requests of cv's methods, each read once, at the edge, into a typed
// record; the methods themselves take only these records. Every reader checks its members in the
// order the replies promise, so when several are wrong the same error wins as always:
// options before images, an image fully decoded before the next one is looked at.
#pragma once

#include <lumetra/color.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/handler.h"
#include "common/result.h"
#include "cv/capture.h"
#include "cv/find_image.h"
#include "cv/image_input.h"

namespace quorvane::cv {

// The `options` member of search_image, search_desktop, wait_for_image and
// search_relative. Fails only on the anchor-box options, which are not supported.
Result<SearchOptions> read_search_options(const json& params);

// An image parameter object: Base64 `data` and its optional `width`, `height` and
// `dpiX`. `name` ("image", "pattern", ...) only appears in error messages.
Result<ImageParam> read_image_param(const json& value, std::string_view name);
// The same, decoded.
Result<DecodedImage> decode_image_param(const json& value, std::string_view name);

struct SearchImageRequest {
  SearchOptions options;
  DecodedImage image;
  DecodedImage pattern;
};
Result<SearchImageRequest> read_search_image(const json& params);

struct DesktopSearchRequest {
  SearchOptions options;
  DecodedImage pattern;
  std::optional<CaptureTarget> save;  // `saveCaptureOnDisk` and `capturePath` of the options
};
Result<DesktopSearchRequest> read_search_desktop(const json& params);

inline constexpr std::uint64_t kDefaultTimeoutMs = 10000;
inline constexpr std::uint64_t kDefaultIntervalMs = 200;
// Between attempts the wait pauses at least this long (or what is left of the time-out,
// when that is less), so it never spins.
inline constexpr std::uint64_t kMinimumIntervalMs = 20;

struct WaitRequest {
  SearchOptions options;
  DecodedImage pattern;
  std::uint64_t timeout_ms = kDefaultTimeoutMs;
  std::uint64_t interval_ms = kDefaultIntervalMs;  // never below kMinimumIntervalMs
};
Result<WaitRequest> read_wait_for_image(const json& params);

// A rectangle as a request gives it, in floating-point pixels.
struct RequestRect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
};

struct RelativeSearchRequest {
  RequestRect offset;  // the target relative to the anchor at scale 1
  SearchOptions options;
  DecodedImage pattern;
  std::optional<DecodedImage> image;  // the screen is captured when there is none
};
Result<RelativeSearchRequest> read_search_relative(const json& params);

// `color` as "rrggbb", optionally after one "#".
Result<lumetra::Rgb8> read_color(const json& params);

struct ColorRegionsRequest {
  lumetra::Rgb8 color;
  std::uint32_t tolerance = 0;
  std::uint32_t min_width = 3;
  std::uint32_t min_height = 3;
  // Nothing when `searchArea` is missing or any of its members is not a number.
  std::optional<RequestRect> area;  // in desktop pixels
};
Result<ColorRegionsRequest> read_find_color_regions(const json& params);

// capture_desktop: where the file goes (`path`). Reading it cannot fail.
CaptureTarget read_capture_desktop(const json& params);

// get_image_info: the Base64 PNG in `content`.
Result<std::string_view> read_get_image_info(const json& params);

}  // namespace quorvane::cv
