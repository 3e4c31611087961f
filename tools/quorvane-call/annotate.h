// Pictures that show why a search did or did not match: the searched image with every
// matched region outlined and labelled with its rank and score, the search area drawn,
// and, when nothing matched, the best candidate below the threshold with its score.
// Portable: quorvane-call feeds it the image and the host's replies.
#pragma once

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/handler.h"

namespace quorvane::annotate {

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Colour&) const = default;
};

// One meaning per colour, bright enough on light and dark screens alike.
inline constexpr Colour kMatch{0, 230, 64};        // a region of the result
inline constexpr Colour kTarget{255, 0, 255};      // search_relative: the target beside an anchor
inline constexpr Colour kCandidate{255, 150, 0};   // best candidate below the threshold
inline constexpr Colour kSearchArea{0, 140, 255};  // the area searched (dashed)
inline constexpr int kLineWidth = 2;

struct Box {
  long long x = 0, y = 0, width = 0, height = 0;
};

// What to draw, in the image's own pixels (desktop coordinates minus `origin`).
struct SearchPicture {
  const json* result = nullptr;          // the reply's result: regions with matchedRect, order, score
  const json* best_candidate = nullptr;  // a region found below the threshold, when none matched
  double threshold = 0.8;
  std::optional<Box> search_area;        // in desktop coordinates, like the regions
  long long origin_x = 0, origin_y = 0;  // desktop position of the image's top-left pixel
};

// Draws onto `image`. Everything outside the image is clipped.
void draw_search(lumetra::RgbImage& image, const SearchPicture& picture);

// The primitives, for the tests and for other pictures.
void outline(lumetra::RgbImage& image, const Box& box, Colour colour, int line_width, bool dashed = false);
// Text in a 5x7 pixel font scaled by `scale`, on a dark plate; digits, '.', '#', '<', '-',
// ':' and blanks (other characters draw as blanks). Returns the plate's width.
int label(lumetra::RgbImage& image, long long x, long long y, std::string_view text, Colour colour, int scale = 2);
// "#<order> <score with 3 decimals>", as regions are labelled.
std::string region_label(const json& region);

}  // namespace quorvane::annotate
