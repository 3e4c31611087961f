// Monitor queries over user32, gdi32 and Shcore.
#include <shellscalingapi.h>

#include <cstring>

#include "common/error_text.h"
#include "cv/screen_platform_win32.h"

namespace quorvane::cv::win32 {

namespace {

BOOL CALLBACK collect_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  reinterpret_cast<std::vector<MonitorHandle>*>(list)->push_back(reinterpret_cast<MonitorHandle>(monitor));
  return TRUE;
}

Failed<std::string> last_error() { return fail(last_platform_error_text()); }

// Shcore.dll is not present on every system the host may meet, so it is loaded per query
// rather than linked; each query lets go of it before returning.
std::optional<PROCESS_DPI_AWARENESS> process_dpi_awareness() {
  unique_hmodule shcore(LoadLibraryW(L"Shcore.dll"));
  if (!shcore) return std::nullopt;
  using Fn = HRESULT(WINAPI*)(HANDLE, PROCESS_DPI_AWARENESS*);
  auto get = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shcore.get(), "GetProcessDpiAwareness")));
  if (!get) return std::nullopt;
  PROCESS_DPI_AWARENESS awareness = PROCESS_DPI_UNAWARE;
  if (FAILED(get(nullptr, &awareness))) return std::nullopt;
  return awareness;
}

std::optional<UINT> effective_dpi(HMONITOR monitor) {
  unique_hmodule shcore(LoadLibraryW(L"Shcore.dll"));
  if (!shcore) return std::nullopt;
  using Fn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
  auto get = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shcore.get(), "GetDpiForMonitor")));
  if (!get) return std::nullopt;
  UINT dpi_x = 0, dpi_y = 0;
  if (FAILED(get(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y))) return std::nullopt;
  return dpi_x;
}

}  // namespace

bool read_monitor_info(HMONITOR monitor, MONITORINFOEXW& info) {
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof(MONITORINFOEXW);
  static_assert(sizeof(MONITORINFOEXW) == 104);
  return GetMonitorInfoW(monitor, &info) != FALSE;
}

Result<std::vector<MonitorHandle>> Win32ScreenPlatform::enumerate_monitors() {
  std::vector<MonitorHandle> monitors;
  if (!EnumDisplayMonitors(nullptr, nullptr, collect_monitor, reinterpret_cast<LPARAM>(&monitors))) return last_error();
  return monitors;
}

Result<DisplayMode> Win32ScreenPlatform::monitor_display_mode(MonitorHandle handle) {
  MONITORINFOEXW info;
  if (!read_monitor_info(to_hmonitor(handle), info)) return last_error();
  DEVMODEW mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof(DEVMODEW);
  static_assert(sizeof(DEVMODEW) == 220);
  mode.dmDriverExtra = 0;
  if (!EnumDisplaySettingsW(info.szDevice, ENUM_CURRENT_SETTINGS, &mode)) return last_error();
  return DisplayMode{mode.dmPosition.x, mode.dmPosition.y, mode.dmPelsWidth, mode.dmPelsHeight};
}

Result<float> Win32ScreenPlatform::monitor_scale_factor(MonitorHandle handle) {
  HMONITOR monitor = to_hmonitor(handle);
  if (std::optional<PROCESS_DPI_AWARENESS> awareness = process_dpi_awareness();
      awareness && *awareness != PROCESS_DPI_UNAWARE) {
    if (std::optional<UINT> dpi = effective_dpi(monitor)) return static_cast<float>(*dpi) / 96.0f;
  }

  // Without per-monitor awareness (or Shcore) the ratio of the device's real width to the
  // width this process is shown gives the same factor.
  MONITORINFOEXW info;
  if (!read_monitor_info(monitor, info)) return last_error();
  unique_hdc dc(CreateDCW(info.szDevice, info.szDevice, nullptr, nullptr));
  if (!dc) return last_error();
  const int real_width = GetDeviceCaps(dc.get(), DESKTOPHORZRES);
  const int seen_width = GetDeviceCaps(dc.get(), HORZRES);
  // A zero width would turn the factor into infinity or NaN; the caller's 1.0 is the
  // better answer for a device that reports nothing.
  if (seen_width == 0) return fail("the display device reports no horizontal resolution");
  return static_cast<float>(real_width) / static_cast<float>(seen_width);
}

Result<DisplayPlatform::MonitorInfo> Win32ScreenPlatform::monitor_info(MonitorHandle handle) {
  MONITORINFOEXW info;
  if (!read_monitor_info(to_hmonitor(handle), info)) return last_error();
  MonitorInfo result;
  static_assert(sizeof(info.szDevice) == sizeof(result.device_name));
  std::memcpy(result.device_name.data(), info.szDevice, sizeof(info.szDevice));
  result.flags = info.dwFlags;
  return result;
}

std::optional<std::vector<DisplayConfigPath>> Win32ScreenPlatform::active_display_paths() {
  UINT32 path_count = 0, mode_count = 0;
  if (GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<DISPLAYCONFIG_PATH_INFO> paths(path_count);
  std::vector<DISPLAYCONFIG_MODE_INFO> modes(mode_count);
  std::memset(paths.data(), 0, paths.size() * sizeof(DISPLAYCONFIG_PATH_INFO));
  std::memset(modes.data(), 0, modes.size() * sizeof(DISPLAYCONFIG_MODE_INFO));
  if (QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(), nullptr) !=
      ERROR_SUCCESS)
    return std::nullopt;
  // The second call may report fewer paths than the buffer holds.
  paths.resize(std::min<std::size_t>(path_count, paths.size()));

  std::vector<DisplayConfigPath> result;
  result.reserve(paths.size());
  for (const DISPLAYCONFIG_PATH_INFO& path : paths)
    result.push_back(DisplayConfigPath{path.sourceInfo.adapterId.LowPart, path.sourceInfo.adapterId.HighPart,
                                       path.sourceInfo.id, path.targetInfo.id});
  return result;
}

namespace {

// One DisplayConfigGetDeviceInfo record about the source or the target (`id`) of a path,
// and the name it holds.
template <typename Info, std::size_t N>
std::optional<std::array<char16_t, N>> device_name(DISPLAYCONFIG_DEVICE_INFO_TYPE type, const DisplayConfigPath& path,
                                                   std::uint32_t id, WCHAR (Info::*field)[N]) {
  Info info;
  std::memset(&info, 0, sizeof info);
  info.header.type = type;
  info.header.size = sizeof info;
  info.header.adapterId.LowPart = path.adapter_low;
  info.header.adapterId.HighPart = path.adapter_high;
  info.header.id = id;
  if (DisplayConfigGetDeviceInfo(&info.header) != ERROR_SUCCESS) return std::nullopt;
  std::array<char16_t, N> name;
  static_assert(sizeof(info.*field) == sizeof(name));
  std::memcpy(name.data(), info.*field, sizeof name);
  return name;
}

}  // namespace

std::optional<std::array<char16_t, 32>> Win32ScreenPlatform::source_gdi_name(const DisplayConfigPath& path) {
  static_assert(sizeof(DISPLAYCONFIG_SOURCE_DEVICE_NAME) == 84);
  return device_name(DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME, path, path.source_id,
                     &DISPLAYCONFIG_SOURCE_DEVICE_NAME::viewGdiDeviceName);
}

std::optional<std::array<char16_t, 64>> Win32ScreenPlatform::target_friendly_name(const DisplayConfigPath& path) {
  static_assert(sizeof(DISPLAYCONFIG_TARGET_DEVICE_NAME) == 420);
  return device_name(DISPLAYCONFIG_DEVICE_INFO_GET_TARGET_NAME, path, path.target_id,
                     &DISPLAYCONFIG_TARGET_DEVICE_NAME::monitorFriendlyDeviceName);
}

std::uint32_t Win32ScreenPlatform::system_dpi() {
  // Looked up at run time: the call exists only from Windows 10 version 1607, and a
  // static import of it would keep the host from loading at all on older systems. There
  // the screen's logical pixels per inch are the system DPI.
  using GetDpiForSystemFn = UINT(WINAPI*)();
  const auto get_dpi_for_system = reinterpret_cast<GetDpiForSystemFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
  if (get_dpi_for_system) return get_dpi_for_system();
  WindowDc screen(nullptr);
  return screen.get() ? static_cast<std::uint32_t>(GetDeviceCaps(screen.get(), LOGPIXELSX)) : 96;
}

Win32ScreenPlatform& platform() {
  static Win32ScreenPlatform instance;
  return instance;
}

}  // namespace quorvane::cv::win32

namespace quorvane::cv {

DisplayPlatform& system_display_platform() { return win32::platform(); }
ScreenPlatform& system_screen_platform() { return win32::platform(); }

}  // namespace quorvane::cv
