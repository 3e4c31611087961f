// The GDI capture, the build number, the temporary folder and the capture file on Win32.
#include "common/error_text.h"
#include "common/utf.h"
#include "cv/errors.h"
#include "cv/screen_platform_win32.h"
#include "window/browser_window.h"

namespace quorvane::cv::win32 {

std::optional<FrameBounds> Win32ScreenPlatform::foreground_browser_frame() {
  window::WindowPlatform& windows = window::system_window_platform();
  std::optional<window::WindowHandle> browser = window::foreground_browser_window(windows);
  if (!browser) return std::nullopt;
  std::optional<window::WindowRect> bounds = windows.extended_frame_bounds(*browser);
  if (!bounds) return std::nullopt;
  return FrameBounds{bounds->left, bounds->top, bounds->right, bounds->bottom};
}

Result<void> Win32ScreenPlatform::copy_screen_pixels(const DisplayMode& mode, std::span<std::uint8_t> bgra) {
  const int width = static_cast<int>(mode.width);
  const int height = static_cast<int>(mode.height);

  // Declared in the order of acquisition, so they are released in reverse: selection put
  // back, bitmap, memory context, window context.
  WindowDc screen(GetDesktopWindow());
  unique_hdc memory(CreateCompatibleDC(screen.get()));
  unique_hbitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  SelectionGuard selection(memory.get(), bitmap.get());

  // Without the bitmap selected, BitBlt would still succeed, into the context's default
  // one-pixel bitmap, and the capture would come back black; fail as BitBlt would instead.
  if (!screen.get() || !memory || !bitmap || !selection.selected()) return fail(last_platform_error_text());
  if (!BitBlt(memory.get(), 0, 0, width, height, screen.get(), mode.x, mode.y, SRCCOPY))
    return fail(last_platform_error_text());
  // The bitmap must not be selected into a context while GetDIBits reads it.
  selection.restore();

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(bgra.size());
  if (GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(height), bgra.data(), &info, DIB_RGB_COLORS) == 0)
    return fail(std::string(errors::rgba_data_failed()));
  return {};
}

std::optional<std::string> Win32ScreenPlatform::build_number_text() {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber",
                   RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring_view text(data, std::min<std::size_t>(size / sizeof(wchar_t), std::size(data)));
  if (std::size_t nul = text.find(L'\0'); nul != std::wstring_view::npos) text = text.substr(0, nul);
  return from_wide(text);
}

}  // namespace quorvane::cv::win32

namespace quorvane::cv {

std::filesystem::path default_capture_path() {
  // GetTempPath2W gives SYSTEM processes their own folder; older systems only have
  // GetTempPathW, so the newer one is looked up rather than linked.
  using Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  Fn get_temp_path = nullptr;
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
    get_temp_path = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetTempPath2W")));
  if (!get_temp_path) get_temp_path = &GetTempPathW;

  std::wstring folder(MAX_PATH + 1, L'\0');
  DWORD length = get_temp_path(static_cast<DWORD>(folder.size()), folder.data());
  if (length > folder.size()) {
    folder.resize(length);
    length = get_temp_path(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(length <= folder.size() ? length : 0);
  return std::filesystem::path(folder + to_wide(kCaptureFileName));
}

std::string path_text(const std::filesystem::path& path) { return from_wide(path.native()); }
std::filesystem::path path_from_text(std::string_view text) { return std::filesystem::path(to_wide(text)); }

Result<CaptureFile> CaptureFile::create(const std::filesystem::path& path) {
  // The refusals of creating the target itself come first, with its error: no folder, a
  // folder of that name, a read-only file, a file open elsewhere (the capture file was
  // always opened without sharing). A hidden or system file is refused as re-creating
  // it with normal attributes is, and a read-only one also where the system would let
  // its owner open it (Wine as root).
  HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return fail(last_system_error_text());
  } else {
    BY_HANDLE_FILE_INFORMATION info{};
    const bool hidden =
        GetFileInformationByHandle(probe, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    const bool device = GetFileType(probe) != FILE_TYPE_DISK;
    CloseHandle(probe);
    if (hidden) return fail(system_error_text(ERROR_ACCESS_DENIED));
    // A device cannot be replaced by a file; it is written directly.
    if (device) {
      HANDLE handle =
          CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle == INVALID_HANDLE_VALUE) return fail(last_system_error_text());
      CaptureFile file;
      file.handle_ = reinterpret_cast<std::intptr_t>(handle);
      file.target_ = path;
      return file;
    }
  }

  static unsigned serial = 0;
  for (int attempt = 0; attempt < 32; ++attempt) {
    std::filesystem::path temporary =
        path.parent_path() / (L".quorvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64() % 100000) + L"-" + std::to_wstring(serial++) + L".tmp");
    HANDLE handle =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return fail(last_system_error_text());
    }
    CaptureFile file;
    file.handle_ = reinterpret_cast<std::intptr_t>(handle);
    file.target_ = path;
    file.temporary_ = std::move(temporary);
    return file;
  }
  return fail(system_error_text(ERROR_FILE_EXISTS));
}

Result<void> CaptureFile::write(std::span<const std::uint8_t> bytes) {
  HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return fail(last_system_error_text());
    if (written == 0) return fail(std::string(errors::short_write()));
    bytes = bytes.subspan(written);
  }
  return {};
}

Result<void> CaptureFile::commit() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)));
  if (temporary_.empty()) return {};  // written directly
  if (!MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING))
    return fail(last_system_error_text());
  committed_ = true;
  return {};
}

CaptureFile::~CaptureFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  if (!committed_ && !temporary_.empty()) DeleteFileW(temporary_.c_str());
}

}  // namespace quorvane::cv
