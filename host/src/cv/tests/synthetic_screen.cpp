#include "synthetic_screen.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace quorvane::cv::testing {

using lumetra::RgbImage;

void fill_rect(RgbImage& img, int x, int y, int w, int h, Rgb c) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min<int>(x + w, static_cast<int>(img.width));
  const int y1 = std::min<int>(y + h, static_cast<int>(img.height));
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx) {
      std::uint8_t* p = img.at(static_cast<std::uint32_t>(xx), static_cast<std::uint32_t>(yy));
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
}

namespace {

// A fixed 5x7 bitmap per character, derived from its code so that the same word always
// looks the same; rows keep a stem so glyphs read as letters rather than noise.
std::uint64_t glyph_bits(unsigned char ch) {
  if (ch == ' ') return 0;
  std::uint64_t h = 0x9E3779B97F4A7C15ull * (ch + 1);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  std::uint64_t bits = h & ((1ull << 35) - 1);
  for (int row = 0; row < 7; ++row) bits |= 1ull << (row * 5 + (ch % 2 ? 0 : 4));  // a stem
  return bits;
}

}  // namespace

void draw_text(RgbImage& img, int x, int y, std::string_view text, Rgb c, int scale) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint64_t bits = glyph_bits(static_cast<unsigned char>(text[i]));
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (bits >> (row * 5 + col) & 1)
          fill_rect(img, x + (static_cast<int>(i) * 6 + col) * scale, y + row * scale, scale, scale, c);
  }
}

RgbImage make_icon(std::uint32_t size, unsigned seed) {
  RgbImage icon(size, size);
  std::mt19937 rng(seed * 2654435761u + 17);
  auto colour = [&rng] {
    return Rgb{static_cast<std::uint8_t>(rng() % 256), static_cast<std::uint8_t>(rng() % 256),
               static_cast<std::uint8_t>(rng() % 256)};
  };
  // Body: a gradient between two random colours along a random direction.
  const Rgb a = colour(), b = colour();
  const double angle = (rng() % 360) * 3.14159265358979 / 180.0;
  const double ca = std::cos(angle), sa = std::sin(angle);
  const int n = static_cast<int>(size);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const double t = std::clamp(0.5 + ((x - n / 2.0) * ca + (y - n / 2.0) * sa) / n, 0.0, 1.0);
      std::uint8_t* p = icon.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
      p[0] = static_cast<std::uint8_t>(a.r + (b.r - a.r) * t);
      p[1] = static_cast<std::uint8_t>(a.g + (b.g - a.g) * t);
      p[2] = static_cast<std::uint8_t>(a.b + (b.b - a.b) * t);
    }
  // Three shapes (discs or bars) of their own colours at random places.
  for (int k = 0; k < 3; ++k) {
    const Rgb c = colour();
    const int cx = static_cast<int>(rng() % size), cy = static_cast<int>(rng() % size);
    const int r = std::max(2, n / 6 + static_cast<int>(rng() % std::max(1u, size / 5)));
    if (rng() % 2) {
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) fill_rect(icon, x, y, 1, 1, c);
    } else {
      fill_rect(icon, cx - r, cy - r / 3, 2 * r, std::max(2, 2 * r / 3), c);
    }
  }
  fill_rect(icon, 0, 0, n, 1, {60, 60, 60});
  fill_rect(icon, 0, n - 1, n, 1, {60, 60, 60});
  return icon;
}

void blit(RgbImage& dst, const RgbImage& src, int x, int y) {
  for (std::uint32_t sy = 0; sy < src.height; ++sy) {
    const int dy = y + static_cast<int>(sy);
    if (dy < 0 || dy >= static_cast<int>(dst.height)) continue;
    for (std::uint32_t sx = 0; sx < src.width; ++sx) {
      const int dx = x + static_cast<int>(sx);
      if (dx < 0 || dx >= static_cast<int>(dst.width)) continue;
      std::copy_n(src.at(sx, sy), 3, dst.at(static_cast<std::uint32_t>(dx), static_cast<std::uint32_t>(dy)));
    }
  }
}

RgbImage crop(const RgbImage& src, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) {
  RgbImage out(w, h);
  for (std::uint32_t r = 0; r < h; ++r) std::copy_n(src.at(x, y + r), std::size_t{w} * 3, out.row(r));
  return out;
}

RgbImage scale_nearest(const RgbImage& src, std::uint32_t w, std::uint32_t h) {
  RgbImage out(w, h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      std::copy_n(src.at(static_cast<std::uint32_t>(std::uint64_t{x} * src.width / w),
                         static_cast<std::uint32_t>(std::uint64_t{y} * src.height / h)),
                  3, out.at(x, y));
  return out;
}

RgbImage make_desktop_screen(std::uint32_t w, std::uint32_t h, unsigned seed) {
  RgbImage img(w, h);
  std::mt19937 rng(seed);
  // Wallpaper: smooth, but not a plane: correlation ignores brightness offsets, so on a
  // linear gradient every patch would look like every other.
  const double f1 = 0.004 + (rng() % 100) * 1e-5, f2 = 0.007 + (rng() % 100) * 1e-5, f3 = 0.0023;
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* p = img.at(x, y);
      const double u = std::sin(x * f1 + y * f3) + std::cos(y * f2 - x * f3 * 0.5);
      const double v = std::sin((x + 2.0 * y) * f3 * 1.7) * std::cos(x * f2 * 0.6);
      p[0] = static_cast<std::uint8_t>(std::clamp(60 + 30 * u + 20 * v, 0.0, 255.0));
      p[1] = static_cast<std::uint8_t>(std::clamp(100 + 25 * v - 15 * u, 0.0, 255.0));
      p[2] = static_cast<std::uint8_t>(std::clamp(170 + 35 * u * v + 20 * u, 0.0, 255.0));
    }
  static const char* const kWords[] = {"File",   "Edit",  "View", "Window",   "Help", "Open",  "Save", "quorvane",
                                       "report", "total", "2024", "Settings", "name", "value", "OK",   "Cancel"};
  const int iw = static_cast<int>(w), ih = static_cast<int>(h);
  const int windows = 2 + static_cast<int>(rng() % 3);
  for (int k = 0; k < windows; ++k) {
    const int ww = std::max(40, iw / 3 + static_cast<int>(rng() % static_cast<unsigned>(std::max(iw / 3, 1))));
    const int wh = std::max(30, ih / 3 + static_cast<int>(rng() % static_cast<unsigned>(std::max(ih / 3, 1))));
    const int wx = static_cast<int>(rng() % static_cast<unsigned>(std::max(iw - ww / 2, 1)));
    const int wy = static_cast<int>(rng() % static_cast<unsigned>(std::max(ih - wh / 2, 1)));
    fill_rect(img, wx - 1, wy - 1, ww + 2, wh + 2, {70, 70, 80});
    fill_rect(img, wx, wy, ww, wh, {240, 240, 238});
    const Rgb title{static_cast<std::uint8_t>(rng() % 90 + 20), static_cast<std::uint8_t>(rng() % 90 + 60),
                    static_cast<std::uint8_t>(rng() % 60 + 160)};
    fill_rect(img, wx, wy, ww, 24, title);
    draw_text(img, wx + 8, wy + 8, kWords[rng() % 16], {255, 255, 255});
    for (int b = 0; b < 3; ++b) fill_rect(img, wx + ww - 20 * (b + 1), wy + 6, 12, 12, {220, 220, 230});
    for (int line = 0, ly = wy + 36; ly + 10 < wy + wh - 30; ++line, ly += 14) {
      std::string text;
      const int words = 2 + static_cast<int>(rng() % 9);
      for (int i = 0; i < words; ++i) (text += kWords[rng() % 16]) += ' ';
      const int max_chars = std::max(0, (ww - 16) / 6);
      if (static_cast<int>(text.size()) > max_chars) text.resize(static_cast<std::size_t>(max_chars));
      draw_text(img, wx + 8, ly, text, line % 5 == 0 ? Rgb{20, 60, 160} : Rgb{30, 30, 30});
    }
    fill_rect(img, wx + ww - 90, wy + wh - 28, 80, 22, {200, 205, 215});
    draw_text(img, wx + ww - 80, wy + wh - 21, k % 2 ? "Cancel" : "OK", {10, 10, 10});
  }
  // Taskbar with a row of icons.
  fill_rect(img, 0, ih - 40, iw, 40, {32, 34, 40});
  for (int i = 0; i * 44 + 8 < iw - 200; ++i) {
    RgbImage icon = make_icon(32, 100 + static_cast<unsigned>(i % 7));
    blit(img, icon, 8 + i * 44, ih - 36);
  }
  draw_text(img, iw - 60, ih - 24, "12:34", {230, 230, 230});
  return img;
}

RgbImage make_document_screen(std::uint32_t w, std::uint32_t h, unsigned seed) {
  RgbImage img(w, h);
  std::fill(img.pixels.begin(), img.pixels.end(), std::uint8_t{255});
  std::mt19937 rng(seed);
  const int iw = static_cast<int>(w), ih = static_cast<int>(h);
  static const char* const kWords[] = {"the",  "image", "search", "returns", "a",          "list", "of",     "matches",
                                       "with", "their", "scores", "and",     "rectangles", "in",   "screen", "pixels"};
  auto sentence = [&](int words) {
    std::string text;
    for (int i = 0; i < words; ++i) (text += kWords[rng() % 16]) += ' ';
    return text;
  };
  // Browser chrome: tabs, address bar with its text.
  fill_rect(img, 0, 0, iw, 40, {222, 225, 230});
  for (int t = 0; t < 5; ++t) {
    fill_rect(img, 8 + t * 220, 6, 210, 34, t == 1 ? Rgb{255, 255, 255} : Rgb{210, 213, 218});
    draw_text(img, 40 + t * 220, 18, sentence(2), {40, 40, 40});
    blit(img, make_icon(16, 300 + static_cast<unsigned>(t)), 16 + t * 220, 15);
  }
  fill_rect(img, 0, 40, iw, 44, {255, 255, 255});
  fill_rect(img, 120, 48, iw - 240, 28, {241, 243, 244});
  draw_text(img, 140, 58, "https://docs.example/quorvane/search", {30, 30, 30});
  fill_rect(img, 0, 84, iw, 1, {200, 200, 200});
  // Sidebar with navigation links.
  const int side = std::min(300, iw / 5);
  fill_rect(img, 0, 85, side, ih - 125, {246, 246, 246});
  for (int y = 110, k = 0; y < ih - 80; y += 28, ++k)
    draw_text(img, 20, y, sentence(2), k % 4 == 0 ? Rgb{0, 0, 0} : Rgb{50, 100, 170}, k % 4 == 0 ? 2 : 1);
  // Page body: headings, paragraphs, code blocks and one picture.
  int y = 110;
  const int left = side + 60, right = iw - 60;
  while (y < ih - 120) {
    const unsigned kind = rng() % 6;
    if (kind == 0) {
      draw_text(img, left, y, sentence(3), {20, 20, 20}, 3);
      y += 40;
    } else if (kind == 1) {
      const int lines = 3 + static_cast<int>(rng() % 5);
      fill_rect(img, left, y, right - left, lines * 18 + 20, {244, 244, 244});
      for (int l = 0; l < lines; ++l) draw_text(img, left + 20, y + 12 + l * 18, sentence(5), {150, 40, 120});
      y += lines * 18 + 40;
    } else if (kind == 2 && y + 220 < ih - 120) {
      // A photo: smooth colour fields with fine grain, the part that compresses worst.
      const int pw = std::min(420, right - left), ph = 200;
      const double fx = 0.01 + (rng() % 50) * 1e-3, fy = 0.013 + (rng() % 50) * 1e-3;
      for (int py = 0; py < ph; ++py)
        for (int px = 0; px < pw; ++px) {
          const unsigned grain = (static_cast<unsigned>(px * 7919 + py * 104729) * 2654435761u) >> 29;
          const double u = std::sin(px * fx) * std::cos(py * fy);
          fill_rect(img, left + px, y + py, 1, 1,
                    {static_cast<std::uint8_t>(120 + 80 * u + grain),
                     static_cast<std::uint8_t>(140 + 60 * std::sin(py * fx) + grain),
                     static_cast<std::uint8_t>(90 + 50 * std::cos(px * fy) + grain)});
        }
      y += ph + 30;
    } else {
      const int lines = 2 + static_cast<int>(rng() % 6);
      for (int l = 0; l < lines; ++l) {
        std::string text = sentence(8 + static_cast<int>(rng() % 12));
        const int max_chars = (right - left) / 12;
        if (static_cast<int>(text.size()) > max_chars) text.resize(static_cast<std::size_t>(max_chars));
        draw_text(img, left, y, text, {33, 33, 33}, 2);
        y += 22;
      }
      y += 16;
    }
  }
  // Taskbar.
  fill_rect(img, 0, ih - 40, iw, 40, {32, 34, 40});
  for (int i = 0; i * 44 + 8 < iw - 200; i += 1)
    blit(img, make_icon(32, 100 + static_cast<unsigned>(i % 7)), 8 + i * 44, ih - 36);
  return img;
}

lumetra::RgbImage make_panel_screen() {
  lumetra::RgbImage s = make_desktop_screen(1920, 1080, 5);
  lumetra::RgbImage panel(128, 128);
  std::fill(panel.pixels.begin(), panel.pixels.end(), std::uint8_t{250});
  fill_rect(panel, 2, 2, 40, 10, {200, 60, 40});
  draw_text(panel, 4, 4, "Go", {255, 255, 255});
  draw_text(panel, 46, 3, "Find it", {20, 20, 120});
  for (int line = 0; line < 7; ++line)
    draw_text(panel, 2 + (line % 3) * 3, 16 + line * 10, "Search 42 items", {30, 30, 30});
  blit(panel, make_icon(24, 42), 96, 96);
  fill_rect(panel, 4, 100, 80, 20, {60, 140, 60});
  draw_text(panel, 10, 106, "Continue", {255, 255, 255});
  blit(s, panel, 1100, 600);
  return s;
}

}  // namespace quorvane::cv::testing
