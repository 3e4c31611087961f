// Builds other than Windows have no screen to offer: the portable core and its tests run
// there, and the host's screen methods answer with an error instead of inventing monitors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/error_text.h"
#include "cv/capture.h"
#include "cv/errors.h"

namespace quorvane::cv {

namespace {

class NoScreenPlatform final : public ScreenPlatform {
 public:
  Result<std::vector<MonitorHandle>> enumerate_monitors() override { return fail(std::string(errors::kNoScreen)); }
  Result<DisplayMode> monitor_display_mode(MonitorHandle) override { return fail(std::string(errors::kNoScreen)); }
  Result<float> monitor_scale_factor(MonitorHandle) override { return fail(std::string(errors::kNoScreen)); }
  Result<MonitorInfo> monitor_info(MonitorHandle) override { return fail(std::string(errors::kNoScreen)); }
  std::optional<std::vector<DisplayConfigPath>> active_display_paths() override { return std::nullopt; }
  std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath&) override { return std::nullopt; }
  std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath&) override {
    return std::nullopt;
  }
  std::uint32_t system_dpi() override { return 96; }
  std::optional<FrameBounds> foreground_browser_frame() override { return std::nullopt; }
  Result<void> copy_screen_pixels(const DisplayMode&, std::span<std::uint8_t>) override {
    return fail(std::string(errors::kNoScreen));
  }
  std::optional<std::string> build_number_text() override { return std::nullopt; }
};

std::string errno_text(int code) { return format_system_error(std::strerror(code), static_cast<std::uint32_t>(code)); }

}  // namespace

DisplayPlatform& system_display_platform() { return system_screen_platform(); }
ScreenPlatform& system_screen_platform() {
  static NoScreenPlatform instance;
  return instance;
}

std::filesystem::path default_capture_path() {
  std::error_code ignored;
  return std::filesystem::temp_directory_path(ignored) / std::string(kCaptureFileName);
}

std::string path_text(const std::filesystem::path& path) { return path.string(); }
std::filesystem::path path_from_text(std::string_view text) { return std::filesystem::path(std::string(text)); }

Result<CaptureFile> CaptureFile::create(const std::filesystem::path& path) {
  // Whatever would refuse opening the target itself (a folder, no access) refuses here.
  int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (probe < 0 && errno != ENOENT) return fail(errno_text(errno));
  if (probe >= 0) {
    struct stat info {};
    if (::fstat(probe, &info) == 0 && !S_ISREG(info.st_mode)) {
      // A device cannot be replaced by a file; it is written directly.
      CaptureFile file;
      file.handle_ = probe;
      file.target_ = path;
      return file;
    }
    ::close(probe);
  }

  static unsigned serial = 0;
  for (int attempt = 0; attempt < 32; ++attempt) {
    std::filesystem::path temporary =
        path.parent_path() / (".quorvane-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp");
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return fail(errno_text(errno));
    }
    CaptureFile file;
    file.handle_ = fd;
    file.target_ = path;
    file.temporary_ = std::move(temporary);
    return file;
  }
  return fail(errno_text(EEXIST));
}

Result<void> CaptureFile::write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno_text(errno));
    }
    if (written == 0) return fail(std::string(errors::short_write()));
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

Result<void> CaptureFile::commit() {
  if (handle_ != -1 && ::close(static_cast<int>(std::exchange(handle_, -1))) != 0) return fail(errno_text(errno));
  if (temporary_.empty()) return {};  // written directly
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return fail(errno_text(errno));
  committed_ = true;
  return {};
}

CaptureFile::~CaptureFile() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

}  // namespace quorvane::cv
