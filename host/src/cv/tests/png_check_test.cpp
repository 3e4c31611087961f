// The chunk walk that every picture passes before its pixels are decoded.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "cv/png.h"
#include "png_builder.h"

namespace quorvane::cv {
namespace {

using testing::Bytes;

// What a stream looks like around its image data: IHDR, then the given chunks.
Bytes stream_of(std::initializer_list<std::pair<std::string_view, Bytes>> chunks) {
  Bytes b = testing::signature();
  testing::put_chunk(b, "IHDR", testing::ihdr_data(2, 1, 8, 2));
  for (const auto& [type, data] : chunks) testing::put_chunk(b, type, data);
  return b;
}

std::string check_reason(const Bytes& b) { return check_png(b).ok() ? std::string("ok") : check_png(b).error(); }

TEST(PngCheck, WalksTheWholeStreamWithTheProbesRules) {
  const Bytes pixels = testing::zlib_compress({0, 1, 2, 3, 4, 5, 6});
  const Bytes good = stream_of({{"pHYs", testing::phys_data(5669, 5669, 1)}, {"IDAT", pixels}, {"IEND", {}}});
  auto header = check_png(good);
  ASSERT_TRUE(header.ok()) << header.error();
  EXPECT_EQ(header->width, 2u);
  EXPECT_EQ(header->physical->x_pixels_per_unit, 5669u);

  // Split image data, ancillary chunks after it and bytes after IEND are all sound.
  const Bytes half1(pixels.begin(), pixels.begin() + 4), half2(pixels.begin() + 4, pixels.end());
  EXPECT_EQ(check_reason(stream_of({{"IDAT", half1}, {"IDAT", half2}, {"tEXt", {'a', 0, 'b'}}, {"IEND", {}}})), "ok");
  Bytes trailing = good;
  trailing.insert(trailing.end(), {1, 2, 3});
  EXPECT_EQ(check_reason(trailing), "ok");
  // A pHYs after the image data is checked but, as for the probe, does not count.
  header = check_png(stream_of({{"IDAT", pixels}, {"pHYs", testing::phys_data(5669, 5669, 1)}, {"IEND", {}}}));
  ASSERT_TRUE(header.ok()) << header.error();
  EXPECT_FALSE(header->physical);

  // Damage the probe does not reach, as it stops at the image data.
  Bytes bad_data_crc = good;
  bad_data_crc[bad_data_crc.size() - 12 - 1] ^= 1;  // the IDAT chunk's CRC
  EXPECT_TRUE(probe_png(bad_data_crc).ok());
  EXPECT_EQ(check_reason(bad_data_crc), "CRC mismatch in chunk IDAT");

  EXPECT_EQ(check_reason(stream_of({{"IDAT", pixels}})), "unexpected end of data");
  EXPECT_EQ(check_reason(stream_of({{"IDAT", half1}, {"tEXt", {}}, {"IDAT", half2}, {"IEND", {}}})),
            "IDAT chunks are not consecutive");
  EXPECT_EQ(check_reason(stream_of({{"IDAT", pixels}, {"ZZZZ", {}}, {"IEND", {}}})), "unknown critical chunk ZZZZ");
  EXPECT_EQ(check_reason(stream_of({{"IDAT", pixels}, {"pHYs", {1}}, {"IEND", {}}})), "invalid pHYs length 1");
  EXPECT_EQ(check_reason(stream_of({{"IDAT", pixels}, {"IHDR", testing::ihdr_data(2, 1, 8, 2)}, {"IEND", {}}})),
            "duplicate IHDR");

  // A damaged type is reported by its place, never by quoting its bytes.
  Bytes bad_type = stream_of({{"IDAT", pixels}, {"IEND", {}}});
  const std::size_t iend_type = bad_type.size() - 8;
  bad_type[iend_type] = 0xC3;
  bad_type[iend_type + 1] = 0x28;
  EXPECT_EQ(check_reason(bad_type), "invalid chunk type at offset " + std::to_string(iend_type));

  // Before the image data the two walks agree word for word.
  for (const Bytes& b : {Bytes{}, testing::signature(), stream_of({{"IEND", {}}}), stream_of({{"pHYs", {1}}})}) {
    EXPECT_FALSE(check_png(b).ok());
    EXPECT_EQ(check_reason(b), probe_png(b).error());
  }
}

}  // namespace
}  // namespace quorvane::cv
