// Helpers for the Windows tests of the file-access methods: calling the real entry
// point, a fresh temporary folder per test, and direct file access that does not go
// through the code under test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/handler.h"
#include "common/utf.h"
#include "common/win32_handle.h"
#include "main/dispatch.h"

namespace quorvane::files::testing {

inline HandlerResult call(std::string_view method, const json& params) { return call_method(method, params); }

// The result of a call that must succeed.
inline json ok(std::string_view method, const json& params) {
  HandlerResult r = call(method, params);
  EXPECT_TRUE(r.ok()) << method << " failed: " << (r.ok() ? "" : r.error());
  return r.ok() ? r.value() : json();
}

// The error of a call that must fail.
inline std::string error_of(std::string_view method, const json& params) {
  HandlerResult r = call(method, params);
  EXPECT_FALSE(r.ok()) << method << " succeeded: " << (r.ok() ? r.value().dump() : "");
  return r.ok() ? std::string() : r.error();
}

inline bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

inline DWORD attributes_of(const std::string& path) {
  std::wstring w = to_wide(path);
  if (w.size() >= 240 && w.rfind(L"\\\\?\\", 0) != 0) w = L"\\\\?\\" + w;
  return GetFileAttributesW(w.c_str());
}
inline bool exists(const std::string& path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }
inline bool is_dir(const std::string& path) {
  DWORD a = attributes_of(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::wstring long_form(const std::string& path) {
  std::wstring w = to_wide(path);
  return w.rfind(L"\\\\?\\", 0) == 0 ? w : L"\\\\?\\" + w;
}

inline void put_file(const std::string& path, std::string_view bytes) {
  unique_handle h(CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(h) << "cannot create " << path << " (" << GetLastError() << ")";
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  h.reset();
  ASSERT_TRUE(ok && written == bytes.size());
}

inline std::optional<std::string> file_bytes(const std::string& path) {
  unique_handle h(CreateFileW(long_form(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!h) return std::nullopt;
  std::string out;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  return out;
}

inline void make_dir(const std::string& path) {
  ASSERT_TRUE(CreateDirectoryW(long_form(path).c_str(), nullptr)) << path << " (" << GetLastError() << ")";
}

inline void set_readonly(const std::string& path, bool on) {
  DWORD a = attributes_of(path);
  SetFileAttributesW(long_form(path).c_str(), on ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~FILE_ATTRIBUTE_READONLY));
}

// True when nobody else holds the file open: an open that shares nothing succeeds only
// then. Used to prove that a method closed its handle.
inline bool nobody_holds(const std::string& path) {
  return static_cast<bool>(unique_handle(CreateFileW(long_form(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
}

// Removes a tree with plain calls, read-only entries included, without following links.
inline void wipe(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
    {
      // Closed before the directory goes: an open search keeps it from being removed.
      WIN32_FIND_DATAW data;
      unique_find find(FindFirstFileW((path + L"\\*").c_str(), &data));
      if (find) {
        do {
          std::wstring name = data.cFileName;
          if (name != L"." && name != L"..") wipe(path + L"\\" + name);
        } while (FindNextFileW(find.get(), &data));
      }
    }
    RemoveDirectoryW(path.c_str());
  } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

// A fresh folder for one test under the Wine temp folder (or `base`), removed afterwards.
class TempDir {
 public:
  explicit TempDir(std::wstring base = {}) {
    static std::atomic<unsigned> serial{0};
    if (base.empty()) {
      wchar_t buffer[MAX_PATH];
      DWORD n = GetTempPathW(MAX_PATH, buffer);
      base.assign(buffer, n);
    }
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    path_ = base + L"qv-files-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
            L"-" + std::to_wstring(serial++);
    created_ = CreateDirectoryW(path_.c_str(), nullptr) != 0;
  }
  ~TempDir() { wipe(L"\\\\?\\" + path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool created() const { return created_; }
  std::string path() const { return from_wide(path_); }
  std::string operator/(std::string_view name) const { return path() + "\\" + std::string(name); }

 private:
  std::wstring path_;
  bool created_ = false;
};

// The Unix path of a Windows path on drive Z:, or of any path through winepath's rules
// for drive C: (the prefix's drive_c).
inline std::optional<std::string> unix_path_of(const std::string& windows_path) {
  std::wstring w = to_wide(windows_path);
  using GetUnixName = char*(__cdecl*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto convert =
      reinterpret_cast<GetUnixName>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (!convert) return std::nullopt;
  char* unix_name = convert(w.c_str());
  if (!unix_name) return std::nullopt;
  std::string out = unix_name;
  HeapFree(GetProcessHeap(), 0, unix_name);
  return out;
}

// Waits for an entry to appear.
inline bool await_entry(const std::string& path, int timeout_ms = 20000) {
  for (int i = 0; i < timeout_ms / 10; ++i) {
    if (exists(path)) return true;
    Sleep(10);
  }
  return false;
}

// Starts a program of the Linux host (Wine starts those too, but cannot wait for them:
// callers watch for what the program makes).
inline bool run_host_program(const std::wstring& program, const std::wstring& command_line) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line;
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  // Only given back: the program runs on its own.
  unique_handle thread(pi.hThread), process(pi.hProcess);
  return true;
}

// Makes a Linux symbolic link at `link` (Windows path) to `target` (Unix path). Wine
// shows it as a reparse point without a tag; its own CreateSymbolicLinkW makes nothing.
inline bool make_host_symlink(const std::string& target_unix, const std::string& link) {
  std::optional<std::string> link_unix = unix_path_of(link);
  return link_unix && run_host_program(L"Z:\\bin\\ln", L"ln -s " + to_wide(target_unix) + L" " + to_wide(*link_unix)) &&
         await_entry(link);
}

}  // namespace quorvane::files::testing
