// What a hostile or damaged PNG costs before decode_image_param answers: the time and the
// process's peak resident and virtual memory, one case per run so the peaks belong to
// that case alone.
//
//   hostile_png_bench huge      a 922 KB PNG declaring 18000x18000 RGB pixels, all zero
//   hostile_png_bench limit     16384x8192 RGB pixels, all zero: exactly at the pixel limit
//   hostile_png_bench lying     a 60-byte PNG whose IDAT declares 0x7FFFFFF0 bytes
//   hostile_png_bench screen    a 1920x1080 screenshot, for comparison
//
// Each run also prints what the chunk walk alone (check_png) costs on the same bytes.
//
// Linux only (the figures come from /proc/self/status).
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "../tests/png_builder.h"
#include "../tests/synthetic_screen.h"
#include "common/base64.h"
#include "cv/png.h"
#include "cv/requests.h"

namespace quorvane::cv {
namespace {

using testing::Bytes;

// VmHWM / VmPeak of this process in MiB.
// CPU time of this process in milliseconds: on a shared machine the wall clock mostly
// measures the neighbours.
double cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double status_mib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field) + 1)) / 1024.0;
  return -1.0;
}

// `width` x `height` 8-bit RGB, every row filter 0 and all samples 0, deflated row by row
// so building it never holds the raw image.
Bytes zero_png(std::uint32_t width, std::uint32_t height) {
  Bytes out = testing::signature();
  testing::put_chunk(out, "IHDR", testing::ihdr_data(width, height, 8, 2));
  z_stream zs{};
  deflateInit(&zs, 9);
  const Bytes row(std::size_t{width} * 3 + 1, 0);
  Bytes idat(1 << 20);
  Bytes compressed;
  for (std::uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    zs.next_in = const_cast<std::uint8_t*>(row.data());
    zs.avail_in = last ? 0 : static_cast<uInt>(row.size());
    do {
      zs.next_out = idat.data();
      zs.avail_out = static_cast<uInt>(idat.size());
      deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.insert(compressed.end(), idat.data(), idat.data() + (idat.size() - zs.avail_out));
    } while (zs.avail_out == 0);
  }
  deflateEnd(&zs);
  testing::put_chunk(out, "IDAT", compressed);
  testing::put_chunk(out, "IEND", {});
  return out;
}

// Signature, IHDR of 16x16 RGB, then an IDAT header declaring 0x7FFFFFF0 bytes followed by
// only 19 of them: 60 bytes in all.
Bytes lying_png() {
  Bytes out = testing::signature();
  testing::put_chunk(out, "IHDR", testing::ihdr_data(16, 16, 8, 2));
  testing::put_be32(out, 0x7FFFFFF0u);
  out.insert(out.end(), {'I', 'D', 'A', 'T'});
  out.resize(60, 0);
  return out;
}

Bytes screen_png() {
  const lumetra::RgbImage img = testing::make_desktop_screen(1920, 1080, 1);
  return *encode_png(img.pixels.data(), img.width, img.height, 3, 96.0);
}

}  // namespace
}  // namespace quorvane::cv

int main(int argc, char** argv) {
  using namespace quorvane::cv;
  const std::string which = argc > 1 ? argv[1] : "";
  Bytes png;
  if (which == "huge")
    png = zero_png(18000, 18000);
  else if (which == "limit")
    png = zero_png(16384, 8192);
  else if (which == "lying")
    png = lying_png();
  else if (which == "screen")
    png = screen_png();
  else {
    std::fprintf(stderr, "usage: %s huge|limit|lying|screen\n", argv[0]);
    return 2;
  }
  const quorvane::json param = {{"data", quorvane::base64_encode(png.data(), png.size())}};
  const double rss_before = status_mib("VmHWM:");
  const double virtual_before = status_mib("VmPeak:");

  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_ms();
  auto decoded = decode_image_param(param, "pattern");
  const double cpu = cpu_ms() - cpu_start;
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

  std::printf("case %s: %zu PNG bytes\n", which.c_str(), png.size());
  if (decoded.ok())
    std::printf("  decoded %ux%u\n", decoded->image.width, decoded->image.height);
  else
    std::printf("  error: %s\n", decoded.error().c_str());
  std::printf("  time %.1f ms (CPU %.1f ms)\n", ms, cpu);
  std::printf("  peak resident %.1f MiB (%.1f MiB before the decode)\n", status_mib("VmHWM:"), rss_before);
  std::printf("  peak virtual  %.1f MiB (%.1f MiB before the decode)\n", status_mib("VmPeak:"), virtual_before);

  // The share of the chunk walk in a decode: it reads every byte once for the CRCs.
  constexpr int kRounds = 50;
  const double walk_start = cpu_ms();
  for (int i = 0; i < kRounds; ++i) {
    auto header = check_png(png);
    if (!header && which == "screen") return 1;
  }
  std::printf("  chunk walk alone: CPU %.3f ms\n", (cpu_ms() - walk_start) / kRounds);
  return 0;
}
