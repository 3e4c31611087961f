// Owners for the Win32 handles the host, its tests and its tools acquire, so that every
// path out of a function, the error paths included, gives them back. Windows only.
#pragma once

#include <windows.h>

#include <utility>

namespace quorvane {

// A move-only owner of one handle. `Kind` names the handle type, the value that means
// "none" (what the owner holds when empty), whether a value is a live handle, and how
// to give one back.
template <typename Kind>
class unique_owner {
 public:
  using handle_type = typename Kind::handle_type;

  unique_owner() = default;
  explicit unique_owner(handle_type h) : h_(h) {}
  unique_owner(unique_owner&& other) noexcept : h_(std::exchange(other.h_, Kind::none())) {}
  unique_owner& operator=(unique_owner&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, Kind::none()));
    return *this;
  }
  unique_owner(const unique_owner&) = delete;
  unique_owner& operator=(const unique_owner&) = delete;
  ~unique_owner() { reset(); }

  handle_type get() const { return h_; }
  explicit operator bool() const { return Kind::live(h_); }
  void reset(handle_type h = Kind::none()) {
    if (Kind::live(h_)) Kind::close(h_);
    h_ = h;
  }
  // Hands the handle to the caller, who now gives it back.
  handle_type release() { return std::exchange(h_, Kind::none()); }

 private:
  handle_type h_ = Kind::none();
};

namespace handle_kinds {
// Kernel objects (files, pipes, processes, threads, events); APIs disagree on whether a
// failure is null or INVALID_HANDLE_VALUE, so both mean "none".
struct Kernel {
  using handle_type = HANDLE;
  static HANDLE none() { return nullptr; }
  static bool live(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
// Directory searches of FindFirstFileExW.
struct Find {
  using handle_type = HANDLE;
  static HANDLE none() { return INVALID_HANDLE_VALUE; }
  static bool live(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { FindClose(h); }
};
// Handles for which only null means "none".
template <typename H>
struct NullMeansNone {
  using handle_type = H;
  static H none() { return nullptr; }
  static bool live(H h) { return h != nullptr; }
};
// Memory device contexts (CreateDC, CreateCompatibleDC).
struct Dc : NullMeansNone<HDC> {
  static void close(HDC h) { DeleteDC(h); }
};
struct Bitmap : NullMeansNone<HBITMAP> {
  static void close(HBITMAP h) { DeleteObject(h); }
};
struct Module : NullMeansNone<HMODULE> {
  static void close(HMODULE h) { FreeLibrary(h); }
};
}  // namespace handle_kinds

using unique_handle = unique_owner<handle_kinds::Kernel>;
using unique_find = unique_owner<handle_kinds::Find>;
using unique_hdc = unique_owner<handle_kinds::Dc>;
using unique_hbitmap = unique_owner<handle_kinds::Bitmap>;
using unique_hmodule = unique_owner<handle_kinds::Module>;

// A window's device context, which goes back with ReleaseDC rather than DeleteDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Puts back the object a SelectObject call displaced. A bitmap still selected into a
// context cannot be deleted, so this must run before the bitmap's owner lets go.
class SelectionGuard {
 public:
  SelectionGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~SelectionGuard() { restore(); }
  SelectionGuard(const SelectionGuard&) = delete;
  SelectionGuard& operator=(const SelectionGuard&) = delete;
  bool selected() const { return previous_ && previous_ != HGDI_ERROR; }
  void restore() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace quorvane
