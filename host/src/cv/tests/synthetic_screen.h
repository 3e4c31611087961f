// Synthetic screens that look like a desktop to the matcher and to the PNG encoder:
// a smooth wallpaper, windows with title bars and lines of text glyphs, buttons, a
// taskbar and rows of identical icons. Deterministic for a given seed.
#pragma once

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <string_view>

namespace quorvane::cv::testing {

struct Rgb {
  std::uint8_t r, g, b;
};

void fill_rect(lumetra::RgbImage& img, int x, int y, int w, int h, Rgb c);
// Draws `text` in a 5x7 glyph cell per character (6 px advance), each pixel `scale`
// screen pixels. Every character has its own fixed glyph.
void draw_text(lumetra::RgbImage& img, int x, int y, std::string_view text, Rgb c, int scale = 1);
// A colourful, non-flat icon of size x size with a shape chosen by `seed`.
lumetra::RgbImage make_icon(std::uint32_t size, unsigned seed);
// Copies `src` onto `dst` at (x, y), clipped.
void blit(lumetra::RgbImage& dst, const lumetra::RgbImage& src, int x, int y);
lumetra::RgbImage crop(const lumetra::RgbImage& src, std::uint32_t x, std::uint32_t y, std::uint32_t w,
                       std::uint32_t h);
// Nearest-neighbour scaling, for drawing a pattern at another size on a screen.
lumetra::RgbImage scale_nearest(const lumetra::RgbImage& src, std::uint32_t w, std::uint32_t h);

// A desktop of w x h: wallpaper, a few windows full of text, a taskbar.
lumetra::RgbImage make_desktop_screen(std::uint32_t w, std::uint32_t h, unsigned seed);

// A maximised browser showing a document: tab strip, address bar, sidebar, paragraphs of
// text, shaded code blocks, a photo-like picture and a taskbar. Mostly flat colours, as
// most screens are.
lumetra::RgbImage make_document_screen(std::uint32_t w, std::uint32_t h, unsigned seed);

// The search benchmarks' screen: a 1920x1080 desktop with a 128x128 panel of text,
// buttons and an icon at (1100, 600). Patterns cut from the panel's top-left corner go
// through glyphs and edges rather than smooth gradients (a gradient correlates with its
// own shifts and says little about a matcher's speed).
lumetra::RgbImage make_panel_screen();

}  // namespace quorvane::cv::testing
