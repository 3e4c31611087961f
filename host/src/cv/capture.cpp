#include "cv/capture.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

#include "common/params.h"
#include "cv/errors.h"
#include "cv/png.h"
#include "cv/requests.h"

namespace quorvane::cv {

std::int64_t overlap_area(const MonitorGeometry& monitor, const FrameBounds& window) {
  // 64-bit edges: a monitor at the far end of the coordinate range must not wrap around.
  const std::int64_t left = std::max<std::int64_t>(monitor.x, window.left);
  const std::int64_t right = std::min<std::int64_t>(std::int64_t{monitor.x} + monitor.width, window.right);
  const std::int64_t top = std::max<std::int64_t>(monitor.y, window.top);
  const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{monitor.y} + monitor.height, window.bottom);
  if (right - left <= 0 || bottom - top <= 0) return 0;
  return (right - left) * (bottom - top);
}

std::optional<MonitorHandle> select_capture_monitor(ScreenPlatform& platform, std::span<const MonitorHandle> monitors) {
  if (monitors.empty()) return std::nullopt;

  if (std::optional<FrameBounds> frame = platform.foreground_browser_frame()) {
    MonitorHandle kept = monitors.front();
    std::int64_t kept_area = -1;
    for (MonitorHandle monitor : monitors) {
      std::int64_t area = overlap_area(monitor_geometry(platform, monitor), *frame);
      // ">=": a window split evenly goes to the monitor enumerated later.
      if (area >= kept_area) {
        kept = monitor;
        kept_area = area;
      }
    }
    if (kept_area > 0) return kept;
  }

  for (MonitorHandle monitor : monitors) {
    Result<DisplayPlatform::MonitorInfo> info = platform.monitor_info(monitor);
    if (info && info->flags == MONITORINFOF_PRIMARY_FLAG) return monitor;
  }
  return monitors.front();
}

std::optional<std::uint32_t> parse_build_number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  std::uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void bgra_to_rgba_in_place(std::span<std::uint8_t> pixels, std::optional<std::uint32_t> build_number) {
  static_assert(std::endian::native == std::endian::little, "pixel words are read little-endian");
  const bool fill_alpha = !build_number || *build_number < kFirstBuildWithScreenAlpha;
  const std::size_t count = pixels.size() / 4;
  std::uint8_t* p = pixels.data();
  // Whole-word operations so the compiler can vectorise the loop; a 1920x1080 capture is
  // two million pixels per polling pass.
  for (std::size_t i = 0; i < count; ++i, p += 4) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
    if (fill_alpha && (v >> 24) == 0) v |= 0xFF000000u;
    std::memcpy(p, &v, 4);
  }
}

Result<MonitorCapture> capture_target_monitor(ScreenPlatform& platform) {
  Result<std::vector<MonitorHandle>> monitors = platform.enumerate_monitors();
  if (!monitors) return fail(errors::capture_failed(monitors.error()));

  std::optional<MonitorHandle> chosen = select_capture_monitor(platform, *monitors);
  if (!chosen) return fail(errors::no_monitors());

  MonitorGeometry geometry = monitor_geometry(platform, *chosen);
  Result<DisplayMode> mode = platform.monitor_display_mode(*chosen);
  if (!mode) return fail(errors::capture_failed(mode.error()));

  MonitorCapture capture;
  capture.width = mode->width;
  capture.height = mode->height;
  capture.scale = geometry.scale;
  capture.origin_x = geometry.x;
  capture.origin_y = geometry.y;
  // The pixels land straight in the buffer that the caller keeps; no second copy.
  capture.pixels.assign(static_cast<std::size_t>(mode->width) * mode->height * 4, 0);
  if (Result<void> copied = platform.copy_screen_pixels(*mode, capture.pixels); !copied)
    return fail(errors::capture_failed(copied.error()));

  std::optional<std::string> build_text = platform.build_number_text();
  bgra_to_rgba_in_place(capture.pixels, build_text ? parse_build_number(*build_text) : std::nullopt);
  return capture;
}

Result<ScreenImage> capture_screen_rgb(ScreenPlatform& platform) {
  Result<MonitorCapture> capture = capture_target_monitor(platform);
  if (!capture) return fail(std::move(capture).error());

  // Dropping alpha in place (each pixel moves to a lower or equal offset) keeps the
  // capture's allocation as the image's buffer.
  std::vector<std::uint8_t> pixels = std::move(capture->pixels);
  const std::size_t count = static_cast<std::size_t>(capture->width) * capture->height;
  std::uint8_t* data = pixels.data();
  for (std::size_t i = 0; i < count; ++i) {
    data[i * 3 + 0] = data[i * 4 + 0];
    data[i * 3 + 1] = data[i * 4 + 1];
    data[i * 3 + 2] = data[i * 4 + 2];
  }
  pixels.resize(count * 3);

  ScreenImage screen;
  screen.image.width = capture->width;
  screen.image.height = capture->height;
  screen.image.pixels = std::move(pixels);
  screen.dpi = capture->scale * 96.0;
  screen.origin_x = static_cast<double>(capture->origin_x);
  screen.origin_y = static_cast<double>(capture->origin_y);
  return screen;
}

Result<ScreenImage> capture_screen_rgb() { return capture_screen_rgb(system_screen_platform()); }

Result<void> save_capture_png(const std::filesystem::path& path, std::span<const std::uint8_t> pixels,
                              std::uint32_t width, std::uint32_t height, CaptureColour colour, double dpi) {
  const unsigned channels = colour == CaptureColour::Rgba ? 4 : 3;
  // The encoder reads width * height * channels bytes; a shorter buffer must not reach it.
  if (pixels.size() != static_cast<std::size_t>(width) * height * channels)
    return fail(errors::short_pixel_buffer(pixels.size(), width, height, channels));

  // The system would take the name only up to the NUL and write a file nobody asked for.
  const auto& native = path.native();
  if (native.find(std::filesystem::path::value_type{0}) != native.npos)
    return fail(errors::save_failed(kNulInPath, path_text(path)));

  Result<CaptureFile> file = CaptureFile::create(path);
  if (!file) return fail(errors::save_failed(file.error(), path_text(path)));

  // Encoded pieces are gathered into 8 KiB writes: the encoder hands over many small
  // pieces (chunk headers, CRCs), and a system call per piece would dominate.
  constexpr std::size_t kWriteBuffer = 8192;
  std::vector<std::uint8_t> buffer;
  buffer.reserve(kWriteBuffer);
  auto flush = [&]() -> Result<void> {
    if (buffer.empty()) return {};
    Result<void> written = file->write(buffer);
    buffer.clear();
    return written;
  };
  PngSink sink = [&](std::span<const std::uint8_t> piece) -> Result<void> {
    while (!piece.empty()) {
      if (buffer.empty() && piece.size() >= kWriteBuffer) return file->write(piece);
      std::size_t take = std::min(piece.size(), kWriteBuffer - buffer.size());
      buffer.insert(buffer.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take));
      piece = piece.subspan(take);
      if (buffer.size() == kWriteBuffer)
        if (Result<void> written = flush(); !written) return written;
    }
    return {};
  };

  Result<void> written = write_png(pixels.data(), width, height, channels, dpi, sink);
  if (written) written = flush();
  if (!written) return fail(errors::save_failed(written.error()));
  // Putting the file in place is the step that creates it at the path.
  if (Result<void> committed = file->commit(); !committed)
    return fail(errors::save_failed(committed.error(), path_text(path)));
  return {};
}

std::filesystem::path CaptureTarget::path() const { return given ? path_from_text(*given) : default_capture_path(); }

std::string CaptureTarget::reply_text(const std::filesystem::path& path) const {
  return given ? *given : path_text(path);
}

Result<json> capture_desktop(ScreenPlatform& platform, const CaptureTarget& target) {
  const std::filesystem::path path = target.path();

  Result<MonitorCapture> capture = capture_target_monitor(platform);
  if (!capture) return std::move(capture).failure();

  if (Result<void> saved = save_capture_png(path, capture->pixels, capture->width, capture->height, CaptureColour::Rgba,
                                            capture->scale * 96.0);
      !saved)
    return std::move(saved).failure();
  return json(target.reply_text(path));
}

Result<json> capture_desktop(ScreenPlatform& platform, const json& params) {
  return capture_desktop(platform, read_capture_desktop(params));
}

HandlerResult capture_desktop(std::string_view, const json& params) {
  return capture_desktop(system_screen_platform(), params);
}

CaptureFile::CaptureFile(CaptureFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      committed_(std::exchange(other.committed_, true)) {}

}  // namespace quorvane::cv
