// Capture-file encoding on real desktops: our encoder against zlib's level 6 and, where
// it is installed, OpenCV's imencode at level 6, on the same RGBA pixels in the same run.
//
//   png_encode_bench [--runs N] [--kernels scalar|sse2|ssse3|avx2|avx512-vnni]
//                    [--filter none|sub|up|average|paeth|adaptive]
//                    [--chain N] [--nice N] [--lazy N] [--insert N] [--block N] [picture.png ...]
//
// Pictures default to the desktops in testdata/screens; each is made RGBA with opaque
// alpha, as a capture is. Times are medians of N runs (default 9) with the minimum beside
// them. "zlib-6" is a baseline encoder written here: libpng's usual per-row filter choice
// (smallest sum of magnitudes over all five filters) and zlib's compress2 at level 6 over
// the filtered rows. Every file our encoder writes is decoded with stb_image and compared
// with the pixels before its figures are printed.
#include <zlib.h>

#include "../tests/stb_reference.h"
#include "cv/png_encode.h"
#include "cv/stb_decode.h"
#include "lumetra/cpu.h"

#ifdef QUORVANE_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace quorvane::cv;
using Bytes = std::vector<std::uint8_t>;

struct Picture {
  std::string name;
  std::uint32_t width = 0, height = 0;
  Bytes rgba;
};

struct Timing {
  double median_ms = 0, min_ms = 0;
  std::size_t bytes = 0;
};

// The thread's processor time where the system offers it finely enough, as the shared
// build machines are often busy and wall time then mostly measures the wait for a core;
// wall time on Windows, whose thread times tick in 10-16 ms steps.
double now_ms() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
#else
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

Timing time_runs(int runs, const std::function<std::size_t()>& encode) {
  std::vector<double> ms;
  std::size_t bytes = 0;
  encode();  // warm-up: first-touch page faults and lazily built tables
  for (int i = 0; i < runs; ++i) {
    const double t0 = now_ms();
    bytes = encode();
    ms.push_back(now_ms() - t0);
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), bytes};
}

// ---------------------------------------------------------------------------------------
// The zlib level 6 baseline: plain, unvectorised filters as libpng chooses them.

unsigned magnitude(std::uint8_t v) { return v < 128 ? v : 256u - v; }

std::uint8_t predict(int f, int a, int b, int c) {
  switch (f) {
    case 1:
      return static_cast<std::uint8_t>(a);
    case 2:
      return static_cast<std::uint8_t>(b);
    case 3:
      return static_cast<std::uint8_t>((a + b) / 2);
    case 4: {
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
    }
    default:
      return 0;
  }
}

Bytes baseline_filtered(const Picture& pic) {
  const std::size_t n = std::size_t{pic.width} * 4;
  Bytes out((n + 1) * pic.height);
  Bytes zero(n, 0), trial(n);
  for (std::uint32_t y = 0; y < pic.height; ++y) {
    const std::uint8_t* cur = pic.rgba.data() + y * n;
    const std::uint8_t* prev = y == 0 ? zero.data() : cur - n;
    std::uint8_t* row = out.data() + y * (n + 1);
    unsigned long best_cost = ~0ul;
    for (int f = 0; f < 5; ++f) {
      unsigned long cost = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= 4 ? cur[i - 4] : 0, c = i >= 4 ? prev[i - 4] : 0;
        trial[i] = static_cast<std::uint8_t>(cur[i] - predict(f, a, prev[i], c));
        cost += magnitude(trial[i]);
      }
      if (cost < best_cost) {
        best_cost = cost;
        row[0] = static_cast<std::uint8_t>(f);
        std::copy(trial.begin(), trial.end(), row + 1);
      }
    }
  }
  return out;
}

void put_be32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void put_chunk(Bytes& out, const char* type, const std::uint8_t* data, std::size_t size) {
  put_be32(out, static_cast<std::uint32_t>(size));
  const std::size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  put_be32(out, static_cast<std::uint32_t>(crc32(0, out.data() + at, static_cast<uInt>(size + 4))));
}

std::size_t baseline_zlib6(const Picture& pic) {
  const Bytes filtered = baseline_filtered(pic);
  uLongf size = compressBound(static_cast<uLong>(filtered.size()));
  Bytes z(size);
  compress2(z.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()), 6);
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  put_be32(ihdr, pic.width);
  put_be32(ihdr, pic.height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  put_chunk(png, "IHDR", ihdr.data(), ihdr.size());
  const std::uint8_t phys[9] = {0, 0, 0x0E, 0xC4, 0, 0, 0x0E, 0xC4, 1};
  put_chunk(png, "pHYs", phys, sizeof phys);
  put_chunk(png, "IDAT", z.data(), size);
  put_chunk(png, "IEND", nullptr, 0);
  return png.size();
}

// ---------------------------------------------------------------------------------------

bool load(const std::filesystem::path& path, Picture& pic) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto rgb = stb_decode_rgb(file);
  if (!rgb) {
    std::fprintf(stderr, "%s: %s\n", path.string().c_str(), rgb.error().c_str());
    return false;
  }
  pic.name = path.stem().string();
  pic.width = rgb->width;
  pic.height = rgb->height;
  pic.rgba.clear();
  pic.rgba.reserve(rgb->pixels.size() / 3 * 4);
  for (std::size_t i = 0; i < rgb->pixels.size(); i += 3)
    pic.rgba.insert(pic.rgba.end(), {rgb->pixels[i], rgb->pixels[i + 1], rgb->pixels[i + 2], 255});
  return true;
}

unsigned number(const char* text) { return static_cast<unsigned>(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
  int runs = 9;
  PngEncodeOptions options;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--runs")
      runs = std::max(1, static_cast<int>(number(value))), ++i;
    else if (arg == "--chain")
      options.deflate.max_chain = number(value), ++i;
    else if (arg == "--nice")
      options.deflate.nice_length = number(value), ++i;
    else if (arg == "--lazy")
      options.deflate.lazy_length = number(value), ++i;
    else if (arg == "--insert")
      options.deflate.insert_limit = number(value), ++i;
    else if (arg == "--block")
      options.deflate.block_symbols = number(value), ++i;
    else if (arg == "--kernels") {
      const auto level = lumetra::cpu::level_from_name(value);
      if (!level) {
        std::fprintf(stderr, "unknown level: %s\n", value);
        return 2;
      }
      lumetra::cpu::cap_level(*level);
      ++i;
    } else if (arg == "--filter") {
      const std::string v = value;
      const char* names[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
      for (int f = 0; f < 6; ++f)
        if (v == names[f]) options.filter = static_cast<PngFilter>(f);
      ++i;
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(QUORVANE_TESTDATA_DIR "/screens"))
      if (entry.path().extension() == ".png") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  }

#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
  const char* clock_name = "thread CPU time";
#else
  const char* clock_name = "wall time";
#endif
  std::printf("kernels %s; chain %u nice %u lazy %u insert %u block %u; %d runs, median (min) ms of %s\n",
              lumetra::cpu::level_name(lumetra::cpu::level()), options.deflate.max_chain, options.deflate.nice_length,
              options.deflate.lazy_length, options.deflate.insert_limit, options.deflate.block_symbols, runs,
              clock_name);
  std::printf("%-22s %17s %9s | %17s %9s | %6s %6s", "picture", "ours ms", "bytes", "zlib-6 ms", "bytes", "time",
              "size");
#ifdef QUORVANE_BENCH_OPENCV
  std::printf(" | %17s %9s | %6s %6s", "opencv-6 ms", "bytes", "time", "size");
#endif
  std::printf("\n");

  bool all_met = true;
  int status = 0;
  for (const auto& path : files) {
    Picture pic;
    if (!load(path, pic)) return 1;

    Bytes ours;
    const Timing t = time_runs(runs, [&] {
      ours = std::move(encode_png(pic.rgba.data(), pic.width, pic.height, 4, 96.0, options).value());
      return ours.size();
    });
    const auto decoded = quorvane::cv::testing::reference_decode_rgba(ours);
    if (!decoded || decoded->rgba != pic.rgba) {
      std::printf("%s: our file does not decode to the same pixels\n", pic.name.c_str());
      status = 1;
      continue;
    }
    const Timing z = time_runs(runs, [&] { return baseline_zlib6(pic); });
    const double time_ratio = t.median_ms / z.median_ms;
    const double size_ratio = static_cast<double>(t.bytes) / static_cast<double>(z.bytes);
    std::printf("%-22s %8.2f (%6.2f) %9zu | %8.2f (%6.2f) %9zu | %5.2fx %5.3fx", pic.name.c_str(), t.median_ms,
                t.min_ms, t.bytes, z.median_ms, z.min_ms, z.bytes, time_ratio, size_ratio);
#ifdef QUORVANE_BENCH_OPENCV
    cv::Mat bgra(static_cast<int>(pic.height), static_cast<int>(pic.width), CV_8UC4);
    for (std::size_t i = 0; i < pic.rgba.size(); i += 4) {
      bgra.data[i] = pic.rgba[i + 2];
      bgra.data[i + 1] = pic.rgba[i + 1];
      bgra.data[i + 2] = pic.rgba[i];
      bgra.data[i + 3] = pic.rgba[i + 3];
    }
    std::vector<uchar> encoded;
    const Timing o = time_runs(runs, [&] {
      cv::imencode(".png", bgra, encoded, {cv::IMWRITE_PNG_COMPRESSION, 6});
      return encoded.size();
    });
    std::printf(" | %8.2f (%6.2f) %9zu | %5.2fx %5.3fx", o.median_ms, o.min_ms, o.bytes, t.median_ms / o.median_ms,
                static_cast<double>(t.bytes) / static_cast<double>(o.bytes));
#endif
    const bool met = time_ratio <= 0.40 && size_ratio <= 1.05;
    all_met = all_met && met;
    std::printf("  %s\n", met ? "goal met" : "goal NOT met");
  }
  std::printf("goal (time <= 0.40x and size <= 1.05x of zlib-6 on every picture): %s\n", all_met ? "met" : "NOT met");
  return status;
}
