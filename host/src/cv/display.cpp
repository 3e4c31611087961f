#include "cv/display.h"

#include <cmath>
#include <cstring>

#include "common/error_text.h"
#include "cv/errors.h"

namespace quorvane::cv {

namespace {

// Floats that JSON cannot carry go out as null.
json finite_or_null(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

}  // namespace

std::string default_monitor_name(std::uint32_t id) { return "Unknown Monitor " + std::to_string(id); }

std::optional<std::string> monitor_friendly_name(DisplayPlatform& platform, MonitorHandle monitor) {
  const std::string fallback = default_monitor_name(monitor_id(monitor));
  Result<DisplayPlatform::MonitorInfo> info = platform.monitor_info(monitor);
  if (!info) return std::nullopt;

  std::optional<std::vector<DisplayConfigPath>> paths = platform.active_display_paths();
  if (!paths) return fallback;

  std::optional<std::array<char16_t, 64>> friendly;
  for (const DisplayConfigPath& path : *paths) {
    std::optional<std::array<char16_t, 32>> source = platform.source_gdi_name(path);
    if (!source) continue;
    // All 32 units take part, padding included, exactly as the system fills both records.
    if (std::memcmp(source->data(), info->device_name.data(), sizeof(char16_t) * 32) != 0) continue;
    friendly = platform.target_friendly_name(path);
    if (friendly) break;
  }
  if (!friendly) return fallback;

  std::u16string_view units(friendly->data(), friendly->size());
  if (std::size_t nul = units.find(u'\0'); nul != std::u16string_view::npos) units = units.substr(0, nul);
  std::optional<std::string> name = strict_utf16_to_utf8(units);
  if (!name) return std::nullopt;
  if (name->empty()) return fallback;
  return name;
}

bool monitor_is_primary(DisplayPlatform& platform, MonitorHandle monitor) {
  Result<DisplayPlatform::MonitorInfo> info = platform.monitor_info(monitor);
  return info && info->flags == MONITORINFOF_PRIMARY_FLAG;
}

MonitorGeometry monitor_geometry(DisplayPlatform& platform, MonitorHandle monitor) {
  MonitorGeometry geometry;
  if (Result<float> scale = platform.monitor_scale_factor(monitor)) geometry.scale = static_cast<double>(*scale);
  if (Result<DisplayMode> mode = platform.monitor_display_mode(monitor)) {
    geometry.x = mode->x;
    geometry.y = mode->y;
    geometry.width = mode->width;
    geometry.height = mode->height;
  }
  return geometry;
}

json display_record(DisplayPlatform& platform, MonitorHandle monitor) {
  MonitorGeometry geometry = monitor_geometry(platform, monitor);
  std::optional<std::string> name = monitor_friendly_name(platform, monitor);

  json record = json::object();
  record["dpi"] = finite_or_null(geometry.scale * 96.0);
  record["height"] = geometry.height;
  record["id"] = monitor_id(monitor);
  record["isPrimary"] = monitor_is_primary(platform, monitor);
  record["name"] = name ? std::move(*name) : std::string();
  record["physicalHeight"] = geometry.height;
  record["physicalWidth"] = geometry.width;
  record["scaleFactor"] = finite_or_null(geometry.scale);
  record["width"] = geometry.width;
  record["x"] = geometry.x;
  record["y"] = geometry.y;
  return record;
}

Result<json> get_display_list(DisplayPlatform& platform) {
  Result<std::vector<MonitorHandle>> monitors = platform.enumerate_monitors();
  if (!monitors) return fail(errors::display_list_failed(monitors.error()));
  json list = json::array();
  for (MonitorHandle monitor : *monitors) list.push_back(display_record(platform, monitor));
  return list;
}

json get_desktop_dpi(DisplayPlatform& platform) {
  std::uint32_t dpi = platform.system_dpi();
  json result = json::object();
  result["dpiX"] = dpi;
  result["dpiY"] = dpi;
  return result;
}

json get_screen_backing_scale_factor() { return json(1.0); }

HandlerResult get_display_list(std::string_view, const json&) {
  Result<json> list = get_display_list(system_display_platform());
  if (!list) return fail(std::move(list).error());
  return json(std::move(list).value());
}

HandlerResult get_desktop_dpi(std::string_view, const json&) {
  return json(get_desktop_dpi(system_display_platform()));
}

HandlerResult get_screen_backing_scale_factor(std::string_view, const json&) {
  return json(get_screen_backing_scale_factor());
}

}  // namespace quorvane::cv
