#include "standin_registration.h"

#include <windows.h>

#include "standin_control.h"

namespace quorvane::testing {

namespace {

constexpr const wchar_t* kClasses[] = {
    L"Windows.Globalization.Language",
    L"Windows.Media.Ocr.OcrEngine",
    L"Windows.Storage.Streams.InMemoryRandomAccessStream",
    L"Windows.Storage.Streams.DataWriter",
    L"Windows.Graphics.Imaging.BitmapDecoder",
};

std::wstring class_key(const wchar_t* name) {
  return std::wstring(L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\") + name;
}

std::wstring standin_dll_path() {
  // The test links the stand-in, so it is loaded; combase gets the very same file.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&quorvane_ocr_standin_log), &module))
    return {};
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
  return std::wstring(path, n);
}

bool set_dword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

}  // namespace

StandinRegistration::StandinRegistration() : dll_path_(standin_dll_path()) {
  if (dll_path_.empty()) return;
  remove_all();
  ok_ = true;
  for (const wchar_t* name : kClasses) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, class_key(name).c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      ok_ = false;
      continue;
    }
    // The values an in-process class carries on Windows: in-process, any apartment, base trust.
    auto bytes = static_cast<DWORD>((dll_path_.size() + 1) * sizeof(wchar_t));
    ok_ = RegSetValueExW(key, L"DllPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll_path_.c_str()), bytes) ==
              ERROR_SUCCESS &&
          set_dword(key, L"ActivationType", 0) && set_dword(key, L"Threading", 0) && set_dword(key, L"TrustLevel", 0) &&
          ok_;
    RegCloseKey(key);
  }
}

StandinRegistration::~StandinRegistration() { remove_all(); }

void StandinRegistration::remove_all() {
  for (const wchar_t* name : kClasses) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, class_key(name).c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace quorvane::testing
