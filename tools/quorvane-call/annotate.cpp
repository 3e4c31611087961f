#include "annotate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace quorvane::annotate {
namespace {

// 5x7 glyphs, one byte per row, the low five bits from left (bit 4) to right (bit 0).
struct Glyph {
  char c;
  std::array<std::uint8_t, 7> rows;
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};
constexpr Colour kPlate{24, 24, 24};

const Glyph* glyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

void put(lumetra::RgbImage& image, long long x, long long y, Colour colour) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
  std::uint8_t* p = image.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  p[0] = colour.r;
  p[1] = colour.g;
  p[2] = colour.b;
}

void fill(lumetra::RgbImage& image, long long x, long long y, long long w, long long h, Colour colour) {
  const long long x0 = std::max(0LL, x), y0 = std::max(0LL, y);
  const long long x1 = std::min<long long>(image.width, x + w), y1 = std::min<long long>(image.height, y + h);
  for (long long yy = y0; yy < y1; ++yy)
    for (long long xx = x0; xx < x1; ++xx) put(image, xx, yy, colour);
}

double number(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

// Rectangles arrive as integers (matches, anchors) or floats (search_relative targets);
// floats are rounded outwards so the outline encloses the whole area.
Box box_of(const json& rect, long long origin_x, long long origin_y) {
  const double x = number(rect, "x"), y = number(rect, "y");
  const double right = x + number(rect, "width"), bottom = y + number(rect, "height");
  const auto lo = [](double v) { return static_cast<long long>(std::floor(v)); };
  const auto hi = [](double v) { return static_cast<long long>(std::ceil(v)); };
  return {lo(x) - origin_x, lo(y) - origin_y, hi(right) - lo(x), hi(bottom) - lo(y)};
}

std::string fixed3(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

constexpr int kLabelScale = 2;

bool overlaps(const Box& a, const Box& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

Box grown(const Box& b, int by) { return {b.x - by, b.y - by, b.width + 2 * by, b.height + 2 * by}; }

// Places labels one after another: above the outline, else right of it, below it, left of
// it, in the first place that stays in the picture and covers no outline or earlier label;
// when there is none, above (or inside the top edge).
class LabelPlacer {
 public:
  LabelPlacer(lumetra::RgbImage& image, std::vector<Box> outlines) : image_(image), taken_(std::move(outlines)) {
    for (Box& b : taken_) b = grown(b, kLineWidth);
  }

  void place(const Box& box, const std::string& text, Colour colour) {
    const long long w = static_cast<long long>(text.size()) * 6 * kLabelScale + 2 * kLabelScale;
    const long long h = 9 * kLabelScale;
    const Box around = grown(box, kLineWidth + 1);
    const Box candidates[] = {
        {around.x, around.y - h, w, h},
        {around.x + around.width, around.y, w, h},
        {around.x, around.y + around.height, w, h},
        {around.x - w, around.y, w, h},
    };
    const Box* chosen = nullptr;
    for (const Box& c : candidates) {
      if (c.x < 0 || c.y < 0 || c.x + c.width > image_.width || c.y + c.height > image_.height) continue;
      if (std::any_of(taken_.begin(), taken_.end(), [&](const Box& t) { return overlaps(c, t); })) continue;
      chosen = &c;
      break;
    }
    const Box fallback{std::max(0LL, around.x), around.y >= h ? around.y - h : box.y, w, h};
    const Box& at = chosen ? *chosen : fallback;
    label(image_, at.x, at.y, text, colour, kLabelScale);
    taken_.push_back(at);
  }

 private:
  lumetra::RgbImage& image_;
  std::vector<Box> taken_;
};

}  // namespace

void outline(lumetra::RgbImage& image, const Box& box, Colour colour, int line_width, bool dashed) {
  if (box.width <= 0 || box.height <= 0) return;
  // The line lies just outside the box, so the matched pixels themselves stay visible.
  const long long left = box.x - line_width, top = box.y - line_width;
  const long long right = box.x + box.width, bottom = box.y + box.height;
  const auto on = [&](long long along) { return !dashed || (along / 6) % 2 == 0; };
  for (long long x = left; x < right + line_width; ++x)
    if (on(x - left))
      for (int t = 0; t < line_width; ++t) {
        put(image, x, top + t, colour);
        put(image, x, bottom + t, colour);
      }
  for (long long y = top; y < bottom + line_width; ++y)
    if (on(y - top))
      for (int t = 0; t < line_width; ++t) {
        put(image, left + t, y, colour);
        put(image, right + t, y, colour);
      }
}

int label(lumetra::RgbImage& image, long long x, long long y, std::string_view text, Colour colour, int scale) {
  const int advance = 6 * scale;
  const int width = static_cast<int>(text.size()) * advance + 2 * scale;
  fill(image, x, y, width, 7 * scale + 2 * scale, kPlate);
  long long pen = x + scale;
  for (char c : text) {
    if (const Glyph* g = glyph(c)) {
      for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
          if (g->rows[row] & (0x10 >> col))
            fill(image, pen + col * scale, y + scale + row * scale, scale, scale, colour);
    }
    pen += advance;
  }
  return width;
}

std::string region_label(const json& region) {
  const auto order = region.find("order");
  const std::string rank =
      order != region.end() && order->is_number_integer() ? std::to_string(order->get<long long>()) : "-";
  return "#" + rank + " " + fixed3(number(region, "score"));
}

void draw_search(lumetra::RgbImage& image, const SearchPicture& picture) {
  // Outlines first, labels after, so no label is drawn over a later outline. Labels keep
  // off matched areas altogether, and off the search area's edges.
  std::vector<Box> outlines;
  if (picture.search_area) {
    Box area = *picture.search_area;
    area.x -= picture.origin_x;
    area.y -= picture.origin_y;
    outline(image, area, kSearchArea, kLineWidth, /*dashed=*/true);
    const long long span_x = area.width + 2 * kLineWidth, span_y = area.height + 2 * kLineWidth;
    outlines.push_back({area.x - kLineWidth, area.y - kLineWidth, span_x, kLineWidth});
    outlines.push_back({area.x - kLineWidth, area.y + area.height, span_x, kLineWidth});
    outlines.push_back({area.x - kLineWidth, area.y - kLineWidth, kLineWidth, span_y});
    outlines.push_back({area.x + area.width, area.y - kLineWidth, kLineWidth, span_y});
  }
  const json* regions = nullptr;
  if (picture.result && picture.result->is_object()) {
    const auto it = picture.result->find("regions");
    if (it != picture.result->end() && it->is_array()) regions = &*it;
  }
  struct Labelled {
    Box box;
    std::string text;
    Colour colour;
  };
  std::vector<Labelled> labels;
  const auto draw = [&](const Box& box, Colour colour, bool dashed) {
    outline(image, box, colour, kLineWidth, dashed);
    outlines.push_back(box);
  };
  if (regions) {
    for (const json& region : *regions) {
      if (!region.is_object()) continue;
      const auto anchor = region.find("anchorRect");
      const auto matched = region.find("matchedRect");
      if (anchor != region.end() && anchor->is_object()) {
        // search_relative: the anchor that matched, and the target placed beside it.
        const Box a = box_of(*anchor, picture.origin_x, picture.origin_y);
        draw(a, kMatch, false);
        if (matched != region.end() && matched->is_object())
          draw(box_of(*matched, picture.origin_x, picture.origin_y), kTarget, false);
        labels.push_back({a, region_label(region), kMatch});
      } else if (matched != region.end() && matched->is_object()) {
        const Box m = box_of(*matched, picture.origin_x, picture.origin_y);
        draw(m, kMatch, false);
        labels.push_back({m, region_label(region), kMatch});
      }
    }
  }
  if ((!regions || regions->empty()) && picture.best_candidate && picture.best_candidate->is_object()) {
    const json& best = *picture.best_candidate;
    const auto anchor = best.find("anchorRect");
    const json& rect =
        anchor != best.end() && anchor->is_object() ? *anchor : best.value("matchedRect", json::object());
    const Box b = box_of(rect, picture.origin_x, picture.origin_y);
    draw(b, kCandidate, true);
    labels.push_back({b, fixed3(number(best, "score")) + "<" + fixed3(picture.threshold), kCandidate});
  }
  LabelPlacer placer(image, std::move(outlines));
  for (const Labelled& l : labels) placer.place(l.box, l.text, l.colour);
}

}  // namespace quorvane::annotate
