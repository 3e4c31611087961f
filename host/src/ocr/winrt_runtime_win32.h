// Plumbing for calling the Windows Runtime through its raw ABI: owning pointers and
// strings, the process-wide factory cache, awaiting asynchronous operations, walking
// collections and turning failures into the platform error text.
#pragma once

#include <activation.h>

#include <atomic>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "ocr/factory_slot.h"
#include "ocr/ocr_core.h"
#include "ocr/winrt_abi_win32.h"

namespace quorvane::ocr::rt {

// Owns one reference to a COM object.
template <class T>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  com_ptr(com_ptr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~com_ptr() { reset(); }

  // Takes over a reference the caller already owns.
  static com_ptr adopt(T* p) {
    com_ptr out;
    out.p_ = p;
    return out;
  }

  void reset() {
    if (p_) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }
  // For out-parameters: the previous object is released first.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  template <class U>
  HRESULT query(com_ptr<U>& out) const {
    return p_->QueryInterface(__uuidof(U), out.put_void());
  }

 private:
  T* p_ = nullptr;
};

// Owns an HSTRING (null is the empty string).
class unique_hstring {
 public:
  unique_hstring() = default;
  unique_hstring(const unique_hstring&) = delete;
  unique_hstring& operator=(const unique_hstring&) = delete;
  ~unique_hstring();
  HSTRING get() const { return h_; }
  HSTRING* put();

 private:
  HSTRING h_ = nullptr;
};

HRESULT create_hstring(std::string_view utf8, unique_hstring& out);
// UTF-8 of a runtime string; unpaired surrogates become U+FFFD.
std::string to_utf8(HSTRING text);

// The platform error text for a runtime call that failed with `hr`, using the description
// the call left on this thread when it belongs to this failure. Call it right after the
// failing call, before any other runtime call can replace that description.
std::string failure_text(HRESULT hr);
// The platform error text for a call that succeeded but gave null where an object was needed.
std::string null_object_text();
// Drops whatever error description a deliberately ignored failure left on this thread, so
// that it cannot be taken for the description of a later failure.
void discard_error_description();

// ---- activation factories ----------------------------------------------------------------

template <class Factory>
struct ActivatableClass;
template <>
struct ActivatableClass<ILanguageFactory> {
  static constexpr std::wstring_view name = L"Windows.Globalization.Language";
};
template <>
struct ActivatableClass<IOcrEngineStatics> {
  static constexpr std::wstring_view name = L"Windows.Media.Ocr.OcrEngine";
};
template <>
struct ActivatableClass<::IActivationFactory> {
  static constexpr std::wstring_view name = L"Windows.Storage.Streams.InMemoryRandomAccessStream";
};
template <>
struct ActivatableClass<IDataWriterFactory> {
  static constexpr std::wstring_view name = L"Windows.Storage.Streams.DataWriter";
};
template <>
struct ActivatableClass<IBitmapDecoderStatics> {
  static constexpr std::wstring_view name = L"Windows.Graphics.Imaging.BitmapDecoder";
};

// RoGetActivationFactory for `class_name`, joining the MTA once if the thread has no apartment.
HRESULT activate_factory(std::wstring_view class_name, REFIID iid, void** factory);

// The activation factory of the class behind `Factory`, activated on first use and cached
// for the life of the process. The cached reference is never released: factories are MTA
// objects and the process stays in the MTA until it ends. An activation that succeeds
// without a factory leaves `out` empty (and caches nothing).
template <class Factory>
HRESULT get_factory(com_ptr<Factory>& out) {
  out.reset();
  static std::atomic<Factory*> slot{nullptr};
  Factory* cached = slot.load(std::memory_order_acquire);
  if (!cached) {
    Factory* fresh = nullptr;
    HRESULT hr = activate_factory(ActivatableClass<Factory>::name, __uuidof(Factory), reinterpret_cast<void**>(&fresh));
    if (FAILED(hr)) return hr;
    if (!fresh) return S_OK;
    cached = publish_factory(slot, fresh);
  }
  cached->AddRef();
  out = com_ptr<Factory>::adopt(cached);
  return S_OK;
}

// ---- asynchronous operations -------------------------------------------------------------

// The completion handler handed to an operation: it only signals an event. It owns the
// event, because the operation may keep (and call) the handler after the waiter has moved on.
template <class TAbi>
class CompletionSignal final : public AsyncOperationCompletedHandler<TAbi> {
  using Handler = AsyncOperationCompletedHandler<TAbi>;

 public:
  static HRESULT create(com_ptr<CompletionSignal>& out) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) return HRESULT_FROM_WIN32(GetLastError());
    auto* signal = new (std::nothrow) CompletionSignal(event);
    if (!signal) {
      CloseHandle(event);
      return E_OUTOFMEMORY;
    }
    out = com_ptr<CompletionSignal>::adopt(signal);
    return S_OK;
  }

  HANDLE event() const { return event_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    // Agile: the operation may invoke the handler from whichever thread completes it.
    if (iid == __uuidof(::IUnknown) || iid == __uuidof(Handler) || iid == __uuidof(IAgileObject)) {
      *object = static_cast<Handler*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<TAbi>*, AsyncStatus) override {
    SetEvent(event_);
    return S_OK;
  }

 private:
  explicit CompletionSignal(HANDLE event) : event_(event) {}
  ~CompletionSignal() { CloseHandle(event_); }

  std::atomic<ULONG> refs_{1};
  HANDLE event_;
};

// Blocks until `operation` has finished, then fetches its results; the failure of a failed
// operation comes back from GetResults. There is no time-out: the platform either finishes
// or the request waits.
template <class TAbi>
HRESULT await_results(IAsyncOperation<TAbi>* operation, TAbi* results) {
  com_ptr<::IAsyncInfo> info;
  HRESULT hr = operation->QueryInterface(__uuidof(::IAsyncInfo), info.put_void());
  if (FAILED(hr)) return hr;
  AsyncStatus status = AsyncStatus::Started;
  hr = info->get_Status(&status);
  if (FAILED(hr)) return hr;
  if (status == AsyncStatus::Started) {
    com_ptr<CompletionSignal<TAbi>> signal;
    hr = CompletionSignal<TAbi>::create(signal);
    if (FAILED(hr)) return hr;
    // The operation may finish before put_Completed returns and call the handler right
    // away, even on this thread; the manual-reset event keeps that signal for the wait.
    hr = operation->put_Completed(signal.get());
    if (FAILED(hr)) return hr;
    if (WaitForSingleObject(signal->event(), INFINITE) == WAIT_FAILED) return HRESULT_FROM_WIN32(GetLastError());
  }
  return operation->GetResults(results);
}

// ---- collections -------------------------------------------------------------------------

// Walks a read-only list with its iterator (First, then HasCurrent, Current and MoveNext per
// element), calling `visit` with each element; `visit` returns an error string to abort.
// Any failure of the iterator itself aborts the walk as step `step`: ending quietly would
// hand back a shortened list as if it were the whole result.
template <class TAbi, class Visit>
std::optional<std::string> walk_list(IVectorView<TAbi>* list, std::string_view step, Visit&& visit) {
  using Element = std::remove_pointer_t<TAbi>;
  com_ptr<IIterable<TAbi>> iterable;
  HRESULT hr = list->QueryInterface(__uuidof(IIterable<TAbi>), iterable.put_void());
  if (FAILED(hr)) return ocr_failed_message(step, failure_text(hr));
  com_ptr<IIterator<TAbi>> iterator;
  hr = iterable->First(iterator.put());
  if (FAILED(hr)) return ocr_failed_message(step, failure_text(hr));
  if (!iterator) return ocr_failed_message(step, null_object_text());
  for (;;) {
    boolean has_current = 0;
    hr = iterator->get_HasCurrent(&has_current);
    if (FAILED(hr)) return ocr_failed_message(step, failure_text(hr));
    if (!has_current) return std::nullopt;
    com_ptr<Element> element;
    hr = iterator->get_Current(element.put());
    if (FAILED(hr)) return ocr_failed_message(step, failure_text(hr));
    if (!element) return ocr_failed_message(step, null_object_text());
    if (std::optional<std::string> error = visit(element.get())) return error;
    boolean moved = 0;
    hr = iterator->MoveNext(&moved);
    if (FAILED(hr)) return ocr_failed_message(step, failure_text(hr));
  }
}

}  // namespace quorvane::ocr::rt
