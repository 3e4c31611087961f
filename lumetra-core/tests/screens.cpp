#include "screens.h"

#include <algorithm>
#include <cmath>

namespace lumetra::testing {

std::uint64_t Rng::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int Rng::uniform(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1)); }

namespace {

void put(RgbImage& img, std::int64_t x, std::int64_t y, Rgb8 c) {
  if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
  std::uint8_t* p = img.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

Rgb8 blend(Rgb8 a, Rgb8 b, double t) {
  auto mix = [t](std::uint8_t u, std::uint8_t v) {
    return static_cast<std::uint8_t>(std::lround(u + (v - u) * std::clamp(t, 0.0, 1.0)));
  };
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

// 64 glyphs of 5x7, generated once: each column pattern is random but every glyph has
// some ink, like letters do.
struct Font {
  std::uint8_t rows[64][7];
  Font() {
    Rng rng(0xF0A7);
    for (auto& g : rows) {
      for (auto& r : g) r = static_cast<std::uint8_t>(rng.next() & 0x1F);
      g[rng.uniform(0, 6)] |= 0x11;
    }
  }
};
const Font& font() {
  static const Font f;
  return f;
}

}  // namespace

void fill_rect(RgbImage& img, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, Rgb8 color) {
  const std::int64_t x0 = std::max<std::int64_t>(x, 0), y0 = std::max<std::int64_t>(y, 0);
  const std::int64_t x1 = std::min<std::int64_t>(x + w, img.width), y1 = std::min<std::int64_t>(y + h, img.height);
  for (std::int64_t yy = y0; yy < y1; ++yy) {
    for (std::int64_t xx = x0; xx < x1; ++xx) put(img, xx, yy, color);
  }
}

void draw_icon(RgbImage& img, std::uint32_t x, std::uint32_t y, std::uint32_t size, int id) {
  static const Rgb8 bases[] = {{52, 120, 246}, {234, 67, 53},  {52, 168, 83},
                               {251, 188, 5},  {142, 68, 173}, {0, 150, 136}};
  const Rgb8 base = bases[id % 6];
  const Rgb8 light = blend(base, {255, 255, 255}, 0.55);
  const Rgb8 dark = blend(base, {0, 0, 0}, 0.45);
  const double s = size;
  for (std::uint32_t j = 0; j < size; ++j) {
    for (std::uint32_t i = 0; i < size; ++i) {
      const double u = (i + 0.5) / s, v = (j + 0.5) / s;
      // Rounded square with a vertical gradient and a one-pixel darker rim.
      const double cx = std::max(std::fabs(u - 0.5) - 0.32, 0.0), cy = std::max(std::fabs(v - 0.5) - 0.32, 0.0);
      const double corner = std::sqrt(cx * cx + cy * cy);
      if (corner > 0.16) continue;
      Rgb8 c = blend(light, base, v);
      if (corner > 0.13 || i == 0 || j == 0 || i + 1 == size || j + 1 == size) c = dark;
      // A distinct white glyph per design.
      const double du = u - 0.5, dv = v - 0.5;
      bool mark = false;
      switch (id % 6) {
        case 0:
          mark = std::fabs(std::sqrt(du * du + dv * dv) - 0.22) < 0.06;
          break;  // ring
        case 1:
          mark = std::fabs(du) < 0.07 || std::fabs(dv) < 0.07;
          break;  // plus
        case 2:
          mark = dv > -0.2 && dv < 0.2 && std::fabs(du) < 0.2 - dv * 0.5 && dv > std::fabs(du) - 0.2;
          break;  // arrow
        case 3:
          mark = std::fmod(std::fabs(dv) * 10, 2.0) < 0.8 && std::fabs(du) < 0.25;
          break;  // bars
        case 4:
          mark = std::fabs(du + dv) < 0.07 || std::fabs(du - dv) < 0.07;
          break;  // cross
        default:
          mark = du * du + dv * dv < 0.03;
          break;  // dot
      }
      if (mark) c = blend(c, {255, 255, 255}, 0.85);
      put(img, x + i, y + j, c);
    }
  }
}

std::uint32_t draw_text(RgbImage& img, std::uint32_t x, std::uint32_t y, int words, std::uint32_t scale, Rgb8 ink,
                        Rng& rng) {
  const Font& f = font();
  for (int w = 0; w < words; ++w) {
    const int letters = rng.uniform(2, 9);
    for (int l = 0; l < letters; ++l) {
      const auto& g = f.rows[rng.uniform(0, 63)];
      for (std::uint32_t r = 0; r < 7; ++r) {
        for (std::uint32_t c = 0; c < 5; ++c) {
          if (!(g[r] >> (4 - c) & 1)) continue;
          fill_rect(img, x + c * scale, y + r * scale, scale, scale, ink);
        }
      }
      x += 6 * scale;
    }
    x += 4 * scale;
  }
  return x;
}

Screen render_screen(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
  Rng rng(seed);
  Screen screen;
  screen.image = RgbImage(width, height);
  RgbImage& img = screen.image;
  const std::int64_t W = width, H = height;
  const std::uint32_t icon = 32;
  screen.icon_size = icon;

  fill_rect(img, 0, 0, W, H, {243, 243, 246});
  // Title bar with its caption and window buttons.
  fill_rect(img, 0, 0, W, 36, {32, 44, 72});
  Rng title(seed ^ 0x7171);
  draw_text(img, 48, 11, 4, 2, {230, 232, 240}, title);
  for (int b = 0; b < 3; ++b)
    fill_rect(img, W - 46 * (b + 1), 8, 30, 20, b == 0 ? Rgb8{196, 43, 28} : Rgb8{70, 82, 110});

  // Toolbar: icons repeating in a fixed sequence, so the same icon appears several times.
  fill_rect(img, 0, 36, W, 48, {228, 230, 236});
  fill_rect(img, 0, 83, W, 1, {200, 202, 210});
  for (std::uint32_t i = 0, x = 12; x + icon < width && i < 40; ++i, x += icon + 14) {
    const int id = static_cast<int>(i % 7);
    draw_icon(img, x, 44, icon, id);
    screen.icons.push_back({id, x, 44});
  }

  // Side panel: a list of entries, each a small icon and a label.
  const std::int64_t side = std::min<std::int64_t>(280, W / 4);
  fill_rect(img, 0, 84, side, H - 84, {250, 250, 252});
  fill_rect(img, side, 84, 1, H - 84, {210, 212, 220});
  for (std::int64_t y = 100; y + 28 < H; y += 30) {
    const int id = rng.uniform(0, 5);
    draw_icon(img, 12, static_cast<std::uint32_t>(y), 20, id);
    draw_text(img, 40, static_cast<std::uint32_t>(y + 6), rng.uniform(1, 3), 1, {40, 40, 48}, rng);
  }

  // Content: paragraphs of text, a photo-like area, a grid of labelled icons, buttons.
  const std::int64_t cx = side + 24;
  std::int64_t y = 104;
  for (int para = 0; para < 3 && y + 80 < H; ++para) {
    draw_text(img, static_cast<std::uint32_t>(cx), static_cast<std::uint32_t>(y), 3, 2, {20, 20, 24}, rng);
    y += 28;
    for (int line = 0; line < 5 && y + 12 < H; ++line, y += 14) {
      const Rgb8 ink = rng.uniform(0, 9) == 0 ? Rgb8{26, 90, 200} : Rgb8{48, 48, 56};
      draw_text(img, static_cast<std::uint32_t>(cx), static_cast<std::uint32_t>(y), rng.uniform(6, 14), 1, ink, rng);
    }
    y += 16;
  }
  // Photo-like area: smooth shapes with a little texture.
  const std::int64_t px = cx, py = y, pw = std::min<std::int64_t>(520, W - cx - 24),
                     ph = std::min<std::int64_t>(300, H - y - 24);
  for (std::int64_t j = 0; j < ph; ++j) {
    for (std::int64_t i = 0; i < pw; ++i) {
      const double u = static_cast<double>(i) / std::max<std::int64_t>(pw, 1),
                   v = static_cast<double>(j) / std::max<std::int64_t>(ph, 1);
      const double hill = 0.5 + 0.5 * std::sin(u * 7.0 + std::sin(v * 5.0) * 1.7);
      const int grain = static_cast<int>(rng.next() % 9) - 4;
      const Rgb8 sky{static_cast<std::uint8_t>(120 + 60 * v), static_cast<std::uint8_t>(170 + 50 * v), 235};
      const Rgb8 land{static_cast<std::uint8_t>(60 + 50 * hill), static_cast<std::uint8_t>(110 + 40 * hill), 60};
      Rgb8 c = v > 0.45 + 0.15 * hill ? land : sky;
      c.r = static_cast<std::uint8_t>(std::clamp(c.r + grain, 0, 255));
      c.g = static_cast<std::uint8_t>(std::clamp(c.g + grain, 0, 255));
      c.b = static_cast<std::uint8_t>(std::clamp(c.b + grain, 0, 255));
      put(img, px + i, py + j, c);
    }
  }
  // Grid of labelled icons to the right of the text.
  const std::int64_t gx0 = std::max<std::int64_t>(cx + 760, W / 2);
  for (std::int64_t gy = 110, row = 0; gy + 70 < H; gy += 90, ++row) {
    for (std::int64_t gx = gx0, col = 0; gx + 90 < W - 20; gx += 110, ++col) {
      const int id = static_cast<int>((row * 3 + col) % 9);
      draw_icon(img, static_cast<std::uint32_t>(gx + 24), static_cast<std::uint32_t>(gy), icon, id);
      screen.icons.push_back({id, static_cast<std::uint32_t>(gx + 24), static_cast<std::uint32_t>(gy)});
      draw_text(img, static_cast<std::uint32_t>(gx + 4), static_cast<std::uint32_t>(gy + 40), 1, 1, {30, 30, 36}, rng);
    }
  }
  // Buttons along the bottom.
  for (std::int64_t b = 0, bx = cx; b < 4 && bx + 120 < W; ++b, bx += 140) {
    fill_rect(img, bx, H - 56, 120, 32, b == 0 ? Rgb8{0, 103, 192} : Rgb8{225, 227, 232});
    fill_rect(img, bx, H - 56, 120, 1, {180, 182, 190});
    draw_text(img, static_cast<std::uint32_t>(bx + 14), static_cast<std::uint32_t>(H - 46), 1, 1,
              b == 0 ? Rgb8{255, 255, 255} : Rgb8{30, 30, 30}, rng);
  }
  return screen;
}

RgbImage noise_image(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
  Rng rng(seed);
  RgbImage img(width, height);
  for (auto& b : img.pixels) b = static_cast<std::uint8_t>(rng.next() >> 56);
  return img;
}

}  // namespace lumetra::testing
