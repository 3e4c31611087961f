// Monitors: enumeration, current display mode, scale factor, friendly name and primary
// flag, and the three display methods built on them.
//
// The queries go through DisplayPlatform so that everything the host decides about
// monitors (defaults on failure, record shape, the friendly-name path match) runs the same
// against the real Win32 services and against the fakes of the native tests, which can
// show several monitors, negative origins and 150 % scaling where Wine shows one monitor.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/handler.h"
#include "common/result.h"

namespace quorvane::cv {

// The operating system's opaque monitor handle (HMONITOR), carried as an integer so the
// portable code never needs <windows.h>.
using MonitorHandle = std::uintptr_t;

// A monitor's id: the handle value truncated to its low 32 bits.
inline std::uint32_t monitor_id(MonitorHandle handle) { return static_cast<std::uint32_t>(handle); }

// The current mode of a monitor's display device, in physical pixels of the virtual desktop.
struct DisplayMode {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const DisplayMode&) const = default;
};

// A display mode with failed queries replaced by defaults (0 each, scale 1.0).
struct MonitorGeometry {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double scale = 1.0;
  bool operator==(const MonitorGeometry&) const = default;
};

inline constexpr std::uint32_t MONITORINFOF_PRIMARY_FLAG = 1;

// One active path of the display configuration, as far as the friendly-name lookup needs it.
struct DisplayConfigPath {
  std::uint32_t adapter_low = 0;  // the source adapter's LUID
  std::int32_t adapter_high = 0;
  std::uint32_t source_id = 0;
  std::uint32_t target_id = 0;
};

// Monitor and display-configuration services. Failures carry the platform error text.
class DisplayPlatform {
 public:
  virtual ~DisplayPlatform() = default;

  virtual Result<std::vector<MonitorHandle>> enumerate_monitors() = 0;
  virtual Result<DisplayMode> monitor_display_mode(MonitorHandle monitor) = 0;
  virtual Result<float> monitor_scale_factor(MonitorHandle monitor) = 0;
  // The GDI device name (32 UTF-16 units, NUL-padded) and flags of the monitor
  // information record, or an error when it cannot be read.
  struct MonitorInfo {
    std::array<char16_t, 32> device_name{};
    std::uint32_t flags = 0;
  };
  virtual Result<MonitorInfo> monitor_info(MonitorHandle monitor) = 0;

  // Display configuration: the active paths, or nullopt when it is unavailable; the GDI
  // name of a path's source and the friendly name of its target (addressed with the
  // source's adapter), each nullopt when the query fails.
  virtual std::optional<std::vector<DisplayConfigPath>> active_display_paths() = 0;
  virtual std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath& path) = 0;
  virtual std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath& path) = 0;

  virtual std::uint32_t system_dpi() = 0;
};

// "Unknown Monitor <id>"
std::string default_monitor_name(std::uint32_t id);

// The friendly name from the display configuration: the first active path whose source
// device name equals the monitor's wins. nullopt when the name query fails (monitor
// information unreadable, or the name is not valid UTF-16).
std::optional<std::string> monitor_friendly_name(DisplayPlatform& platform, MonitorHandle monitor);

// False when the monitor information cannot be read.
bool monitor_is_primary(DisplayPlatform& platform, MonitorHandle monitor);

// Never fails: each field takes its default when its query fails.
MonitorGeometry monitor_geometry(DisplayPlatform& platform, MonitorHandle monitor);

// The element of the display list for one monitor.
json display_record(DisplayPlatform& platform, MonitorHandle monitor);

// The three display methods, against a given platform.
Result<json> get_display_list(DisplayPlatform& platform);
json get_desktop_dpi(DisplayPlatform& platform);
json get_screen_backing_scale_factor();

// The display services of the machine the host runs on.
DisplayPlatform& system_display_platform();

// Method-table entry points.
HandlerResult get_display_list(std::string_view method, const json& params);
HandlerResult get_desktop_dpi(std::string_view method, const json& params);
HandlerResult get_screen_backing_scale_factor(std::string_view method, const json& params);

}  // namespace quorvane::cv
