#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "common/base64.h"
#include "cv/png.h"
#include "cv/requests.h"
#include "png_builder.h"

namespace quorvane::cv {
namespace {

using testing::Bytes;
using ::testing::StartsWith;

std::string b64(const Bytes& bytes) { return base64_encode(bytes.data(), bytes.size()); }

json image_param(const Bytes& bytes) { return json{{"data", b64(bytes)}}; }

std::string decode_error(const json& value, std::string_view name = "pattern") {
  auto r = decode_image_param(value, name);
  return r.ok() ? std::string("<ok>") : r.error();
}

const Bytes kTwelve = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

TEST(DecodeImageParam, RawSamplesAreTakenByteForByte) {
  json p = image_param(kTwelve);
  p["width"] = 2;
  p["height"] = 2;
  auto r = decode_image_param(p, "image");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.width, 2u);
  EXPECT_EQ(r->image.height, 2u);
  EXPECT_EQ(r->image.pixels, kTwelve);
  EXPECT_EQ(r->dpi, 96.0);

  // Dimensions keep only their low 32 bits.
  p["width"] = (std::uint64_t{1} << 32) + 2;
  r = decode_image_param(p, "image");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.width, 2u);
}

TEST(DecodeImageParam, DimensionsThatDoNotFitFallBackToTheDecoder) {
  json p = image_param(kTwelve);
  p["width"] = 3;
  p["height"] = 2;
  const std::string e = decode_error(p);
  EXPECT_THAT(e, StartsWith("bad_image: pattern is neither raw RGB of 3x2x3 bytes nor decodable: "));
  EXPECT_GT(e.size(), std::string("bad_image: pattern is neither raw RGB of 3x2x3 bytes nor decodable: ").size());

  // Counts must be non-negative integers; anything else is absent and reported as 0.
  p["width"] = 2.0;
  p["height"] = -2;
  EXPECT_THAT(decode_error(p, "image"), StartsWith("bad_image: image is neither raw RGB of 0x0x3 bytes"));
  p["width"] = "2";
  p["height"] = 2;
  EXPECT_THAT(decode_error(p), StartsWith("bad_image: pattern is neither raw RGB of 0x2x3 bytes"));
  // Products beyond 64 bits never match a byte count.
  p["width"] = 0xFFFFFFFFu;
  p["height"] = 0xFFFFFFFFu;
  EXPECT_THAT(decode_error(p), StartsWith("bad_image: pattern is neither raw RGB of 4294967295x4294967295x3"));
}

TEST(DecodeImageParam, MissingOrMalformedDataIsReportedByName) {
  EXPECT_EQ(decode_error(json(), "pattern"), "bad_params: missing 'pattern.data'");
  EXPECT_EQ(decode_error(json::array(), "image"), "bad_params: missing 'image.data'");
  EXPECT_EQ(decode_error(json{{"data", 5}}, "image"), "bad_params: missing 'image.data'");
  EXPECT_EQ(decode_error(json{{"data", "Zm9v!mFy"}}), "bad_params: base64 decode failed: Invalid symbol 33, offset 4.");
  for (std::string_view text : {"Zm9", "Zm9v====", "Zm9=", "Zg=A"}) {
    std::vector<std::uint8_t> out;
    const Result<void> decoded = base64_decode(text, out);
    ASSERT_FALSE(decoded.ok()) << text;
    EXPECT_EQ(decode_error(json{{"data", text}}), "bad_params: base64 decode failed: " + decoded.error());
  }
  EXPECT_EQ(decode_error(json{{"data", ""}}, "image"), decode_error(json{{"data", ""}, {"width", 0}}, "image"));
  EXPECT_THAT(decode_error(json{{"data", ""}}, "image"),
              StartsWith("bad_image: image is neither raw RGB of 0x0x3 bytes nor decodable: "));
}

TEST(DecodeImageParam, PngOfEveryColourTypeBecomesRgb) {
  // RGBA: alpha dropped without compositing, even where fully transparent.
  testing::PngLayout rgba;
  rgba.width = 2;
  rgba.type = 6;
  rgba.rows = {{10, 20, 30, 0, 200, 100, 50, 255}};
  auto r = decode_image_param(image_param(testing::build_png(rgba)), "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.pixels, (Bytes{10, 20, 30, 200, 100, 50}));

  // 16-bit grey: the high byte, copied to all three channels.
  testing::PngLayout grey16;
  grey16.width = 2;
  grey16.depth = 16;
  grey16.type = 0;
  grey16.rows = {{0x12, 0x34, 0xAB, 0xFF}};
  r = decode_image_param(image_param(testing::build_png(grey16)), "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.pixels, (Bytes{0x12, 0x12, 0x12, 0xAB, 0xAB, 0xAB}));

  // 2-bit palette: indices expanded through PLTE.
  testing::PngLayout pal;
  pal.width = 4;
  pal.depth = 2;
  pal.type = 3;
  pal.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
  pal.rows = {{0b00011011}};
  r = decode_image_param(image_param(testing::build_png(pal)), "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.pixels, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9}));

  // Grey with alpha, 16-bit RGB.
  testing::PngLayout ga;
  ga.type = 4;
  ga.rows = {{77, 0}};
  r = decode_image_param(image_param(testing::build_png(ga)), "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.pixels, (Bytes{77, 77, 77}));
  testing::PngLayout rgb16;
  rgb16.depth = 16;
  rgb16.rows = {{1, 2, 3, 4, 5, 6}};
  r = decode_image_param(image_param(testing::build_png(rgb16)), "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.pixels, (Bytes{1, 3, 5}));
}

TEST(DecodeImageParam, PngIgnoresWidthAndHeightThatDoNotFit) {
  const Bytes png = testing::rgb_png(2, 1, {1, 2, 3, 4, 5, 6});
  json p = image_param(png);
  p["width"] = 7;
  p["height"] = 7;
  auto r = decode_image_param(p, "pattern");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->image.width, 2u);
  EXPECT_EQ(r->image.pixels, (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(DecodeImageParam, DamagedPngAndOtherFormatsFail) {
  Bytes png = testing::rgb_png(4, 4, Bytes(48, 7));
  png.resize(png.size() - 30);  // cut into the image data
  json p = image_param(png);
  EXPECT_THAT(decode_error(p), StartsWith("bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: "));

  // A GIF header: recognised as not PNG, never parsed.
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  EXPECT_THAT(decode_error(image_param(gif)), StartsWith("bad_image: pattern is neither raw RGB"));
}

TEST(DecodeImageParam, DpiComesFromDpiXThenPhysThenDefault) {
  testing::PngLayout s;
  s.rows = {{1, 2, 3}};
  s.phys = true;
  auto dpi_of = [](const json& p) {
    auto r = decode_image_param(p, "image");
    EXPECT_TRUE(r.ok()) << r.error();
    return r.ok() ? r->dpi : -1.0;
  };
  s.ppu_x = 3780;
  EXPECT_EQ(dpi_of(image_param(testing::build_png(s))), 96.0);
  s.ppu_x = 5669;
  const Bytes png144 = testing::build_png(s);
  EXPECT_EQ(dpi_of(image_param(png144)), 144.0);

  json p = image_param(png144);
  p["dpiX"] = 120;
  EXPECT_EQ(dpi_of(p), 120.0);
  p["dpiX"] = 120.5;
  EXPECT_EQ(dpi_of(p), 120.5);
  p["dpiX"] = 0;
  EXPECT_EQ(dpi_of(p), 144.0);
  p["dpiX"] = -5;
  EXPECT_EQ(dpi_of(p), 144.0);
  p["dpiX"] = "120";
  EXPECT_EQ(dpi_of(p), 144.0);

  s.ppu_x = 0;  // zero density: unknown
  EXPECT_EQ(dpi_of(image_param(testing::build_png(s))), 96.0);
  s.ppu_x = 5669;
  s.unit = 0;  // aspect ratio only
  EXPECT_EQ(dpi_of(image_param(testing::build_png(s))), 96.0);
  s.unit = 1;
  s.ppu_x = 10;  // rounds to 0 DPI, which is passed on as it is
  EXPECT_EQ(dpi_of(image_param(testing::build_png(s))), 0.0);

  // Raw samples carry no header; dpiX still applies.
  json raw = image_param(kTwelve);
  raw["width"] = 2;
  raw["height"] = 2;
  raw["dpiX"] = 192;
  EXPECT_EQ(dpi_of(raw), 192.0);
}

// Every decode error quoted from a PNG: readable text, whatever bytes the file holds.
bool printable_ascii(std::string_view text) {
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

TEST(DecodeImageParam, DamageAnywhereInThePngFailsAsItDoesForTheProbe) {
  testing::PngLayout s;
  s.width = 2;
  s.rows = {{1, 2, 3, 4, 5, 6}};
  s.phys = true;
  s.ppu_x = s.ppu_y = 5669;
  const Bytes good = testing::build_png(s);
  ASSERT_TRUE(decode_image_param(image_param(good), "pattern").ok());
  const std::string prefix = "bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: ";

  // The pixels are intact; only the image data's CRC is wrong.
  Bytes bad_idat_crc = good;
  bad_idat_crc[bad_idat_crc.size() - 12 - 1] ^= 0x40;
  EXPECT_EQ(decode_error(image_param(bad_idat_crc)), prefix + "CRC mismatch in chunk IDAT");

  // A damaged pHYs is not read as "no pHYs, so 96 DPI": the image fails, as it does for
  // get_image_info.
  Bytes bad_phys_crc = good;
  bad_phys_crc[8 + 25 + 8 + 9] ^= 0x01;
  EXPECT_EQ(decode_error(image_param(bad_phys_crc)), prefix + "CRC mismatch in chunk pHYs");
  EXPECT_EQ(get_image_info("get_image_info", json{{"content", b64(bad_phys_crc)}}).error(),
            "bad_image: not a decodable PNG: CRC mismatch in chunk pHYs");

  // 60 bytes whose image data claims 0x7FFFFFF0 bytes: refused before any decoder sizes
  // a buffer by that claim.
  Bytes lying = testing::signature();
  testing::put_chunk(lying, "IHDR", testing::ihdr_data(16, 16, 8, 2));
  testing::put_be32(lying, 0x7FFFFFF0u);
  lying.insert(lying.end(), {'I', 'D', 'A', 'T'});
  lying.resize(60, 0);
  EXPECT_EQ(decode_error(image_param(lying)), prefix + "unexpected end of data in chunk IDAT");

  // A critical chunk whose type is not even letters: named by its place, not its bytes.
  Bytes bad_type = testing::signature();
  testing::put_chunk(bad_type, "IHDR", testing::ihdr_data(1, 1, 8, 2));
  testing::put_chunk(bad_type, "\x80\xC3xy", {});
  testing::put_chunk(bad_type, "IDAT", testing::zlib_compress({0, 1, 2, 3}));
  testing::put_chunk(bad_type, "IEND", {});
  EXPECT_EQ(decode_error(image_param(bad_type)), prefix + "invalid chunk type at offset 37");
}

TEST(DecodeImageParam, PicturesBeyondThePixelLimitAreRefusedUnread) {
  // Only the header matters: the image data is sound framing around nothing decodable.
  auto claiming = [](std::uint32_t w, std::uint32_t h) {
    Bytes png = testing::signature();
    testing::put_chunk(png, "IHDR", testing::ihdr_data(w, h, 1, 0));
    testing::put_chunk(png, "IDAT", testing::zlib_compress(Bytes(64, 0)));
    testing::put_chunk(png, "IEND", {});
    return png;
  };
  EXPECT_EQ(decode_error(image_param(claiming(18000, 18000))),
            "bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: image of 18000x18000 = "
            "324000000 pixels exceeds the limit of 134217728 pixels");
  EXPECT_THAT(decode_error(image_param(claiming(134217729, 1)), "image"),
              ::testing::HasSubstr("nor decodable: image of 134217729x1 = 134217729 pixels exceeds the limit"));
  EXPECT_THAT(decode_error(image_param(claiming(0x7FFFFFFF, 0x7FFFFFFF))),
              ::testing::HasSubstr("2147483647x2147483647 = 4611686014132420609 pixels"));
  // Exactly at the limit the decoder is reached, and fails on the data instead.
  const std::string at_limit = decode_error(image_param(claiming(16384, 8192)));
  EXPECT_THAT(at_limit, StartsWith("bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: "));
  EXPECT_THAT(at_limit, ::testing::Not(::testing::HasSubstr("limit")));

  // The header facts of such a file are still there for the asking.
  auto info = get_image_info("get_image_info", json{{"content", b64(claiming(18000, 18000))}});
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_EQ(info.value()["width"], 18000);
}

// The pixel decoder names an unknown critical chunk by its raw type bytes: zero bytes made
// the reason empty or cut it short, other bytes made it invalid UTF-8. The chunk walk that
// runs first refuses such chunks with readable reasons of its own.
TEST(DecodeImageParam, UnknownChunkTypesGetReadableReasons) {
  const auto with_chunk = [](std::string_view type) {
    Bytes png = testing::rgb_png(1, 1, {1, 2, 3});
    Bytes chunk;
    testing::put_chunk(chunk, type, {});
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // after the signature and IHDR
    return png;
  };
  const std::string prefix = "bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: ";
  using namespace std::string_view_literals;
  EXPECT_EQ(decode_error(image_param(with_chunk("QUUX"))), prefix + "unknown critical chunk QUUX");
  for (std::string_view type : {"\0\0\0\0"sv, "AB\0C"sv, "A\xC3(B"sv})
    EXPECT_EQ(decode_error(image_param(with_chunk(type))), prefix + "invalid chunk type at offset 37");
  // Data that ends where the next chunk header should be.
  Bytes cut = testing::rgb_png(1, 1, {1, 2, 3});
  cut.resize(cut.size() - 12);  // no IEND
  cut.insert(cut.end(), {'j', 'u', 'n', 'k'});
  EXPECT_THAT(decode_error(image_param(cut)), StartsWith(prefix + "unexpected end of data"));
}

TEST(DecodeImageParam, CorruptedPngsFailCleanly) {
  // Flipped, cut and stretched files: every outcome is an image or one of the two
  // messages, never a crash or an out-of-bounds read (the sanitizer build checks that).
  testing::PngLayout s;
  s.width = 9;
  s.height = 7;
  s.type = 3;
  s.depth = 4;
  s.palette = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  s.trns = {0, 128};
  s.phys = true;
  s.ppu_x = s.ppu_y = 3780;
  for (int y = 0; y < 7; ++y) s.rows.push_back({0x01, 0x20, 0x12, 0x21, 0x10});
  const Bytes good = testing::build_png(s);
  std::mt19937 rng(99);
  int decoded = 0;
  for (int i = 0; i < 3000; ++i) {
    Bytes b = good;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % b.size();
      switch (rng() % 3) {
        case 0:
          b[at] = static_cast<std::uint8_t>(rng());
          break;
        case 1:
          b.resize(at);
          break;
        default:
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
          break;
      }
      if (b.empty()) b.push_back(0);
    }
    auto r = decode_image_param(image_param(b), "pattern");
    if (r.ok()) {
      ++decoded;
      EXPECT_TRUE(r->image.well_formed());
    } else {
      EXPECT_THAT(r.error(), StartsWith("bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: "));
      EXPECT_TRUE(printable_ascii(r.error())) << r.error();
    }
    // One rule for the same bytes: what the header probe refuses, the decoder refuses
    // for the same reason.
    auto info = get_image_info("get_image_info", json{{"content", b64(b)}});
    if (!info.ok()) {
      ASSERT_THAT(info.error(), StartsWith("bad_image: not a decodable PNG: "));
      const std::string reason = info.error().substr(std::string("bad_image: not a decodable PNG: ").size());
      EXPECT_FALSE(r.ok()) << reason;
      if (!r.ok()) {
        EXPECT_EQ(r.error(), "bad_image: pattern is neither raw RGB of 0x0x3 bytes nor decodable: " + reason);
      }
    }
  }
  EXPECT_GT(decoded, 0);
}

// ---------------------------------------------------------------------------------------

TEST(GetImageInfo, ReportsHeaderFacts) {
  const Bytes rgba = *encode_png(Bytes(100 * 50 * 4, 0).data(), 100, 50, 4, 96.0);
  // Without the pHYs chunk the encoder always writes.
  Bytes no_phys = testing::signature();
  testing::put_chunk(no_phys, "IHDR", testing::ihdr_data(100, 50, 8, 6));
  testing::put_chunk(no_phys, "IDAT", {});
  auto r = get_image_info("get_image_info", json{{"content", b64(no_phys)}});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r.value(), (json{{"bitDepth", 32},
                             {"color", 5},
                             {"dpiX", 0.0},
                             {"dpiY", 0.0},
                             {"format", 1},
                             {"height", 50},
                             {"width", 100}}));
  EXPECT_TRUE(r.value()["dpiX"].is_number_float());

  r = get_image_info("get_image_info", json{{"content", b64(rgba)}});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r.value()["dpiX"], 96.0);
  EXPECT_EQ(r.value()["dpiY"], 96.0);

  struct Case {
    std::uint8_t depth, type;
    int bit_depth, color;
  };
  for (const Case c : {Case{16, 0, 16, 2}, Case{4, 3, 4, 1}, Case{8, 4, 16, 3}, Case{16, 2, 48, 4}, Case{16, 6, 64, 5},
                       Case{1, 0, 1, 2}}) {
    Bytes png = testing::signature();
    testing::put_chunk(png, "IHDR", testing::ihdr_data(3, 4, c.depth, c.type));
    if (c.type == 3) testing::put_chunk(png, "PLTE", {0, 0, 0});
    testing::put_chunk(png, "pHYs", testing::phys_data(5669, 3780, 1));
    testing::put_chunk(png, "IDAT", {1, 2, 3});  // not even valid zlib: never inflated
    r = get_image_info("get_image_info", json{{"content", b64(png)}});
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value()["bitDepth"], c.bit_depth) << int(c.depth) << "/" << int(c.type);
    EXPECT_EQ(r.value()["color"], c.color);
    EXPECT_EQ(r.value()["dpiX"], 144.0);
    EXPECT_EQ(r.value()["dpiY"], 96.0);
  }

  Bytes unit0 = testing::signature();
  testing::put_chunk(unit0, "IHDR", testing::ihdr_data(3, 4, 8, 2));
  testing::put_chunk(unit0, "pHYs", testing::phys_data(5669, 5669, 0));
  testing::put_chunk(unit0, "IDAT", {});
  r = get_image_info("get_image_info", json{{"content", b64(unit0)}});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r.value()["dpiX"], 0.0);
}

TEST(GetImageInfo, Errors) {
  auto err = [](const json& params) {
    auto r = get_image_info("get_image_info", params);
    return r.ok() ? std::string("<ok>") : r.error();
  };
  EXPECT_EQ(err(json()), "bad_params: missing 'content'");
  EXPECT_EQ(err(json{{"content", 1}}), "bad_params: missing 'content'");
  EXPECT_EQ(err(json{{"content", "@@@@"}}), "bad_params: base64 decode failed: Invalid symbol 64, offset 0.");
  EXPECT_EQ(err(json{{"content", b64(kTwelve)}}), "bad_image: not a decodable PNG: invalid PNG signature");
}

}  // namespace
}  // namespace quorvane::cv
