// The Windows configuration the end-to-end tests run in, seen the way the host must see
// it: the effective DPI of the primary monitor for a per-monitor aware caller, and the
// build number. The Windows tests run in more than one Wine configuration (see
// QUORVANE_WINE_PROFILE in cmake/wine-run.sh), so what depends on the configuration is
// taken from here instead of being written into the tests as 96 DPI and Windows 7.
#pragma once

#include <shellscalingapi.h>
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::testing {

// The monitors as user32 enumerates them, to compare the host's lists with.
inline std::vector<HMONITOR> user32_monitors() {
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR m, HDC, LPRECT, LPARAM out) {
        reinterpret_cast<std::vector<HMONITOR>*>(out)->push_back(m);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

struct WindowsConfig {
  std::uint32_t dpi = 96;   // effective DPI of the primary monitor
  std::uint32_t build = 0;  // CurrentBuildNumber, 0 when unreadable
  // Captures on builds before Windows 8 get opaque alpha; later ones keep the system's.
  bool capture_keeps_alpha() const { return build >= 9200; }
  double scale() const { return dpi / 96.0; }
  // The pHYs density of a capture file at this DPI.
  std::uint32_t pixels_per_metre() const { return static_cast<std::uint32_t>(std::lround(dpi / 0.0254)); }
};

// What a Wine profile promises, when the tests run under one: what the second
// configuration must really show, so a prefix left at Wine's defaults cannot pass for it.
struct ProfilePromise {
  std::string name;
  std::uint32_t dpi;
  std::uint32_t min_build, max_build;
};
inline std::optional<ProfilePromise> wine_profile_promise() {
  const char* value = std::getenv("QUORVANE_WINE_PROFILE");
  const std::string_view profile = value && *value ? value : "default";
  if (profile == "default") return ProfilePromise{"default", 96, 7601, 7601};
  if (profile == "win10-144dpi") return ProfilePromise{"win10-144dpi", 144, 10240, 0xFFFFFFFFu};
  return std::nullopt;
}

inline bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline HMONITOR primary_monitor() { return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

inline WindowsConfig current_windows_config() {
  WindowsConfig config;
  // Per-monitor aware for this query only, whatever the calling process is.
  DPI_AWARENESS_CONTEXT previous = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  UINT dpi_x = 0, dpi_y = 0;
  if (GetDpiForMonitor(primary_monitor(), MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y) == S_OK) config.dpi = dpi_x;
  if (previous) SetThreadDpiAwarenessContext(previous);

  wchar_t text[64] = {};
  DWORD size = sizeof text;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber",
                   RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS)
    config.build = static_cast<std::uint32_t>(std::wcstoul(text, nullptr, 10));
  return config;
}

// The primary monitor as GDI copies it, BGRA top-down: what the system delivers before
// any conversion, for the alpha bytes a capture on a newer build must keep.
inline std::vector<std::uint8_t> gdi_copy_of_primary_monitor(std::uint32_t& width, std::uint32_t& height) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(primary_monitor(), &info);
  width = static_cast<std::uint32_t>(info.rcMonitor.right - info.rcMonitor.left);
  height = static_cast<std::uint32_t>(info.rcMonitor.bottom - info.rcMonitor.top);
  std::vector<std::uint8_t> pixels(std::size_t{width} * height * 4);
  HWND desktop = GetDesktopWindow();
  HDC screen = GetWindowDC(desktop);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, static_cast<int>(width), static_cast<int>(height));
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, static_cast<int>(width), static_cast<int>(height), screen, info.rcMonitor.left,
         info.rcMonitor.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = static_cast<LONG>(width);
  header.bmiHeader.biHeight = -static_cast<LONG>(height);
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  if (GetDIBits(memory, bitmap, 0, height, pixels.data(), &header, DIB_RGB_COLORS) == 0) pixels.clear();
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(desktop, screen);
  return pixels;
}

}  // namespace quorvane::testing
