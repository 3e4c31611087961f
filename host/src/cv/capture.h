// Screen capture: the host captures exactly one monitor, the one that shows the browser
// window (or the primary one when the browser is not in front), and hands it on as RGBA
// pixels for a PNG file or as an RgbImage placed on the virtual desktop for searching.
//
// The choices (which monitor, which errors, the colour and alpha fix-up, the PNG layout)
// are made here, portably; ScreenPlatform supplies the pixels and the facts they depend on.
#pragma once

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/handler.h"
#include "common/result.h"
#include "cv/display.h"

namespace quorvane::cv {

// A window rectangle in physical desktop pixels (right and bottom exclusive).
struct FrameBounds {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// The display services plus what a capture needs beyond them.
class ScreenPlatform : public DisplayPlatform {
 public:
  // The DWM frame bounds of the foreground window when it is a browser window; nullopt
  // when no browser window is in front or its bounds cannot be read.
  virtual std::optional<FrameBounds> foreground_browser_frame() = 0;

  // Copies the `mode.width` x `mode.height` desktop pixels at (mode.x, mode.y) into `bgra`
  // (exactly width * height * 4 bytes, top-down rows, B, G, R, A per pixel). Fails with
  // the complete text to follow "capture_failed: ".
  virtual Result<void> copy_screen_pixels(const DisplayMode& mode, std::span<std::uint8_t> bgra) = 0;

  // The "CurrentBuildNumber" registry text (cut at its first NUL), or nullopt when it
  // cannot be read.
  virtual std::optional<std::string> build_number_text() = 0;
};

// The capture services of the machine the host runs on.
ScreenPlatform& system_screen_platform();

struct MonitorCapture {
  std::vector<std::uint8_t> pixels;  // width * height * 4 bytes, R, G, B, A
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double scale = 1.0;
  std::int32_t origin_x = 0;
  std::int32_t origin_y = 0;
};

// A capture as the search methods see it. Pixel (px, py) lies at
// (origin_x + px, origin_y + py) on the virtual desktop.
struct ScreenImage {
  lumetra::RgbImage image;
  double dpi = 96.0;
  double origin_x = 0.0;
  double origin_y = 0.0;
};

// The monitor to capture among `monitors` (enumeration order): the one holding the
// largest part of the foreground browser window (later monitors win ties), else the
// first primary monitor, else the first monitor. nullopt only for an empty list.
std::optional<MonitorHandle> select_capture_monitor(ScreenPlatform& platform, std::span<const MonitorHandle> monitors);

// The area shared by a monitor and a window, 0 when they do not overlap.
std::int64_t overlap_area(const MonitorGeometry& monitor, const FrameBounds& window);

// An unsigned 32-bit decimal number with an optional leading '+', nothing else.
std::optional<std::uint32_t> parse_build_number(std::string_view text);

// Below this build the system leaves screen alpha at 0, which would make a PNG of the
// capture fully transparent.
inline constexpr std::uint32_t kFirstBuildWithScreenAlpha = 9200;

// BGRA to RGBA in place; on builds before 9200 (or an unknown build) alpha 0 becomes 255.
void bgra_to_rgba_in_place(std::span<std::uint8_t> pixels, std::optional<std::uint32_t> build_number);

Result<MonitorCapture> capture_target_monitor(ScreenPlatform& platform);
Result<ScreenImage> capture_screen_rgb(ScreenPlatform& platform);
// Against the system's screen.
Result<ScreenImage> capture_screen_rgb();

enum class CaptureColour : std::uint8_t { Rgb = 2, Rgba = 6 };

// Writes the pixels as a PNG file with the dpi in pHYs; errors start with "save_failed: ".
Result<void> save_capture_png(const std::filesystem::path& path, std::span<const std::uint8_t> pixels,
                              std::uint32_t width, std::uint32_t height, CaptureColour colour, double dpi);

// The user's temporary folder followed by "quorvane_desktop_capture.png".
std::filesystem::path default_capture_path();
inline constexpr std::string_view kCaptureFileName = "quorvane_desktop_capture.png";
// The system error text of a path that holds a NUL character.
inline constexpr std::string_view kNulInPath = "strings passed to WinAPI cannot contain NULs";

// A path as the protocol reports it: UTF-8, unconvertible units replaced by U+FFFD.
std::string path_text(const std::filesystem::path& path);
// A protocol path string as a file-system path.
std::filesystem::path path_from_text(std::string_view text);

// The file a capture is saved to: the path the request gave, else the default one.
struct CaptureTarget {
  std::optional<std::string> given;

  std::filesystem::path path() const;
  // The path as replies report it: as given, else the default path's text.
  std::string reply_text(const std::filesystem::path& path) const;
};

Result<json> capture_desktop(ScreenPlatform& platform, const CaptureTarget& target);
Result<json> capture_desktop(ScreenPlatform& platform, const json& params);
HandlerResult capture_desktop(std::string_view method, const json& params);

// The file side of save_capture_png, per platform. The PNG is written to a new file
// beside the target and renamed over it only when complete, so a failed save (a full
// disk) leaves an earlier capture at the path as it was. Errors are the system error
// text of the failed call.
class CaptureFile {
 public:
  CaptureFile() = default;
  CaptureFile(CaptureFile&& other) noexcept;
  CaptureFile& operator=(CaptureFile&&) = delete;
  // Removes the new file unless it was committed.
  ~CaptureFile();

  // Fails, before anything is written, where creating the target itself would fail.
  static Result<CaptureFile> create(const std::filesystem::path& path);
  Result<void> write(std::span<const std::uint8_t> bytes);
  // Closes the new file and puts it in the target's place.
  Result<void> commit();

 private:
  std::intptr_t handle_ = -1;
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  bool committed_ = false;
};

}  // namespace quorvane::cv
