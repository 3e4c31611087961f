#include "ocr/winrt_runtime_win32.h"

#include <roapi.h>
#include <winstring.h>

#include "common/error_text.h"
#include "common/utf.h"

namespace quorvane::ocr::rt {

namespace {

// The runtime entry points, looked up in combase.dll at first use instead of imported:
// the executable must start on systems that have no Windows Runtime, where only the OCR
// methods fail. combase stays loaded for the life of the process because the cached
// factories live in it.
struct RuntimeApi {
  HRESULT status = S_OK;  // why the runtime cannot be used, when it cannot
  decltype(&::RoGetActivationFactory) get_activation_factory = nullptr;
  decltype(&::WindowsCreateString) create_string = nullptr;
  decltype(&::WindowsCreateStringReference) create_string_reference = nullptr;
  decltype(&::WindowsDeleteString) delete_string = nullptr;
  decltype(&::WindowsGetStringRawBuffer) string_raw_buffer = nullptr;
  decltype(&::CoIncrementMTAUsage) increment_mta_usage = nullptr;
  HRESULT(WINAPI* get_restricted_error_info)(IRestrictedErrorInfo**) = nullptr;
};

template <class F>
bool resolve(HMODULE module, const char* name, F& out) {
  // Through void* because FARPROC and the real signature are unrelated function types.
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

RuntimeApi load_runtime_api() {
  RuntimeApi api;
  HMODULE combase = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!combase) {
    api.status = HRESULT_FROM_WIN32(GetLastError());
    return api;
  }
  bool complete = resolve(combase, "RoGetActivationFactory", api.get_activation_factory) &&
                  resolve(combase, "WindowsCreateString", api.create_string) &&
                  resolve(combase, "WindowsCreateStringReference", api.create_string_reference) &&
                  resolve(combase, "WindowsDeleteString", api.delete_string) &&
                  resolve(combase, "WindowsGetStringRawBuffer", api.string_raw_buffer) &&
                  resolve(combase, "CoIncrementMTAUsage", api.increment_mta_usage);
  if (!complete) {
    api.status = HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(api.status)) api.status = E_NOTIMPL;
    return api;
  }
  // Optional: without it failures are described by the message table alone.
  resolve(combase, "GetRestrictedErrorInfo", api.get_restricted_error_info);
  return api;
}

const RuntimeApi& runtime_api() {
  static const RuntimeApi api = load_runtime_api();
  return api;
}

// Joins the process to the multithreaded apartment. The usage count is never given back:
// the cached factories are MTA objects and must stay usable until the process ends.
void join_mta() {
  static std::atomic<bool> joined{false};
  if (joined.load(std::memory_order_acquire)) return;
  CO_MTA_USAGE_COOKIE cookie = nullptr;
  if (SUCCEEDED(runtime_api().increment_mta_usage(&cookie))) joined.store(true, std::memory_order_release);
}

std::string bstr_to_utf8(BSTR text) {
  if (!text) return {};
  return from_wide(std::wstring_view(text, SysStringLen(text)));
}

com_ptr<IRestrictedErrorInfo> take_error_info() {
  com_ptr<IRestrictedErrorInfo> info;
  if (auto get = runtime_api().get_restricted_error_info) {
    // S_FALSE means no error object; the call hands the object over and clears the thread.
    if (get(info.put()) != S_OK) info.reset();
  }
  return info;
}

}  // namespace

unique_hstring::~unique_hstring() {
  if (h_) runtime_api().delete_string(h_);
}

HSTRING* unique_hstring::put() {
  if (h_) runtime_api().delete_string(h_);
  h_ = nullptr;
  return &h_;
}

HRESULT create_hstring(std::string_view utf8, unique_hstring& out) {
  const RuntimeApi& api = runtime_api();
  if (FAILED(api.status)) return api.status;
  std::wstring wide = to_wide(utf8);
  if (wide.size() > 0xFFFFFFFFu) return E_INVALIDARG;
  return api.create_string(wide.data(), static_cast<UINT32>(wide.size()), out.put());
}

std::string to_utf8(HSTRING text) {
  if (!text) return {};
  UINT32 length = 0;
  const wchar_t* raw = runtime_api().string_raw_buffer(text, &length);
  if (!raw) return {};
  return from_wide(std::wstring_view(raw, length));
}

std::string failure_text(HRESULT hr) {
  std::optional<std::string> description;
  if (com_ptr<IRestrictedErrorInfo> info = take_error_info()) {
    BSTR plain = nullptr;
    BSTR restricted = nullptr;
    BSTR capability = nullptr;
    HRESULT recorded = S_OK;
    if (SUCCEEDED(info->GetErrorDetails(&plain, &recorded, &restricted, &capability)))
      description = runtime_error_description(hr, recorded, bstr_to_utf8(restricted), bstr_to_utf8(plain));
    SysFreeString(plain);
    SysFreeString(restricted);
    SysFreeString(capability);
  }
  return platform_error_text(static_cast<std::uint32_t>(hr), description);
}

std::string null_object_text() { return platform_error_text(0); }

void discard_error_description() { take_error_info(); }

HRESULT activate_factory(std::wstring_view class_name, REFIID iid, void** factory) {
  const RuntimeApi& api = runtime_api();
  if (FAILED(api.status)) return api.status;
  HSTRING_HEADER header;
  HSTRING name = nullptr;
  HRESULT hr = api.create_string_reference(class_name.data(), static_cast<UINT32>(class_name.size()), &header, &name);
  if (FAILED(hr)) return hr;
  return activate_joining_mta([&] { return api.get_activation_factory(name, iid, factory); }, join_mta);
}

}  // namespace quorvane::ocr::rt
