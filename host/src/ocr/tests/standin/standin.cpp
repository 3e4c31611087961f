// Stand-in Windows Runtime classes for the OCR tests: OcrEngine, Language,
// InMemoryRandomAccessStream, DataWriter and BitmapDecoder with their results, activated
// by combase through DllGetActivationFactory. They behave as the published API describes
// (streams hold bytes, the writer commits only on StoreAsync, the decoder reads from the
// stream's position, operations may finish later on another thread) and follow a script
// from the environment (see standin_control.h).
#define QUORVANE_OCR_STANDIN_BUILD
#include <winstring.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "standin_abi.h"
#include "standin_control.h"

namespace standin {
namespace {

constexpr HRESULT kClosed = static_cast<HRESULT>(0x80000013);             // RO_E_CLOSED
constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL
constexpr HRESULT kIllegalDelegate = static_cast<HRESULT>(0x80000018);    // E_ILLEGAL_DELEGATE_ASSIGNMENT
constexpr HRESULT kComponentNotFound = static_cast<HRESULT>(0x88982F50);  // WINCODEC_ERR_COMPONENTNOTFOUND
constexpr HRESULT kBounds = static_cast<HRESULT>(0x8000000B);             // E_BOUNDS

// ---- log, counters and script -------------------------------------------------------------

struct State {
  std::mutex mutex;
  std::string log;
  std::string log_snapshot;
  std::string activations;
  std::string activations_snapshot;
  std::map<std::string, int> calls;
  std::vector<HANDLE> threads;
};
State& state() {
  static State* s = new State;  // never destroyed: threads may still log at process exit
  return *s;
}
std::atomic<long> g_live{0};

void note(const std::string& entry) {
  std::lock_guard lock(state().mutex);
  state().log += entry;
  state().log += '\n';
}

std::string script_text() {
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA("QUORVANE_OCR_STANDIN", buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The value of `key=` in the script, if present (last one wins).
std::optional<std::string> setting(std::string_view key) {
  std::optional<std::string> found;
  for (const std::string& item : split(script_text(), ';'))
    if (item.size() > key.size() && item.compare(0, key.size(), key) == 0 && item[key.size()] == '=')
      found = item.substr(key.size() + 1);
  return found;
}

struct Outcome {
  HRESULT hr = S_OK;
  bool null = false;
};

// Records one call and tells how the script wants it to end.
Outcome outcome(const std::string& call, const std::string& detail = {}) {
  int count;
  {
    std::lock_guard lock(state().mutex);
    count = ++state().calls[call];
    state().log += detail.empty() ? call : call + "(" + detail + ")";
    state().log += '\n';
  }
  Outcome result;
  for (const std::string& item : split(script_text(), ';')) {
    bool is_fail = item.rfind("fail=", 0) == 0;
    bool is_null = item.rfind("null=", 0) == 0;
    if (!is_fail && !is_null) continue;
    std::string target = item.substr(5);
    HRESULT code = E_FAIL;
    if (std::size_t colon = target.find(':'); colon != std::string::npos) {
      code = static_cast<HRESULT>(std::strtoul(target.c_str() + colon + 1, nullptr, 16));
      target.resize(colon);
    }
    int nth = 0;
    if (std::size_t at = target.find('@'); at != std::string::npos) {
      nth = std::atoi(target.c_str() + at + 1);
      target.resize(at);
    }
    if (target != call || (nth != 0 && nth != count)) continue;
    if (is_fail) result.hr = code;
    if (is_null) result.null = true;
  }
  return result;
}

HRESULT unexpected(const char* what) {
  note(std::string("UNEXPECTED ") + what);
  return E_NOTIMPL;
}

std::string guid_text(REFIID iid) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", iid.Data1, iid.Data2,
                iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4], iid.Data4[5],
                iid.Data4[6], iid.Data4[7]);
  return text;
}

// ---- strings ------------------------------------------------------------------------------

HRESULT make_hstring(const std::u16string& text, HSTRING* out) {
  return WindowsCreateString(reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT32>(text.size()), out);
}

std::u16string widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<wchar_t*>(out.data()),
                      n);
  return out;
}

std::string narrow(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string from_hstring(HSTRING text) {
  UINT32 length = 0;
  const wchar_t* raw = WindowsGetStringRawBuffer(text, &length);
  return raw ? std::u16string(reinterpret_cast<const char16_t*>(raw), length) : std::u16string();
}

// Resolves \uXXXX escapes (any UTF-16 unit) and \\ in a script text.
std::u16string unescape(std::string_view utf8) {
  std::u16string text = widen(utf8);
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 5 < text.size() && text[i + 1] == u'u') {
      std::string hex = narrow(text.substr(i + 2, 4));
      out.push_back(static_cast<char16_t>(std::strtoul(hex.c_str(), nullptr, 16)));
      i += 5;
    } else if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'\\') {
      out.push_back(u'\\');
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// ---- the scripted image ---------------------------------------------------------------------

struct WordScript {
  Rect box{};
  std::u16string text;
};
struct LineScript {
  std::u16string text;
  std::vector<WordScript> words;
};
struct ImageScript {
  INT32 width = 0;
  INT32 height = 0;
  std::vector<LineScript> lines;
  std::u16string text;
};

std::optional<ImageScript> parse_image(const std::vector<BYTE>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> rows = split(text, '\n');
  ImageScript image;
  if (rows.empty() || std::sscanf(rows[0].c_str(), "QVIMG %d %d", &image.width, &image.height) != 2)
    return std::nullopt;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::string& row = rows[i];
    if (row.rfind("L ", 0) == 0) {
      image.lines.push_back(LineScript{unescape(row.substr(2)), {}});
    } else if (row.rfind("T ", 0) == 0) {
      image.text = unescape(row.substr(2));
    } else if (row.rfind("W ", 0) == 0 && !image.lines.empty()) {
      char x[32], y[32], w[32], h[32];
      int consumed = 0;
      if (std::sscanf(row.c_str(), "W %31s %31s %31s %31s %n", x, y, w, h, &consumed) < 4) return std::nullopt;
      WordScript word;
      word.box =
          Rect{std::strtof(x, nullptr), std::strtof(y, nullptr), std::strtof(w, nullptr), std::strtof(h, nullptr)};
      word.text = unescape(row.substr(static_cast<std::size_t>(consumed)));
      image.lines.back().words.push_back(std::move(word));
    }
  }
  return image;
}

// ---- object plumbing ----------------------------------------------------------------------

// Owns one reference.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p, bool add_ref = true) : p_(p) {
    if (p_ && add_ref) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref& operator=(const Ref& o) {
    Ref copy(o);
    std::swap(p_, copy.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// Live-object accounting. Factories are excluded: the host keeps them for its lifetime.
struct Counted {
  explicit Counted(bool counted) : counted_(counted) {
    if (counted_) ++g_live;
  }
  ~Counted() {
    if (counted_) --g_live;
  }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  bool counted_;
  std::atomic<ULONG> refs_{1};
};

// Every stand-in class answers a private IID with its own C++ object, so that a method
// receiving an interface pointer can check it really got that interface of a stand-in
// object (a host passing the wrong interface of the right object must not go unnoticed).
#define STANDIN_OBJECT(Class, RuntimeName, Primary)                                                                 \
 public:                                                                                                            \
  static constexpr GUID kSelf = make_iid(0x51A4D000 + __LINE__, 0, 0, 0x51, 0xA4, 0, 0, 0, 0, 0, 0);                \
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }                                                     \
  ULONG STDMETHODCALLTYPE Release() override {                                                                      \
    ULONG left = --refs_;                                                                                           \
    if (left == 0) delete this;                                                                                     \
    return left;                                                                                                    \
  }                                                                                                                 \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {                                       \
    if (!out) return E_POINTER;                                                                                     \
    *out = nullptr;                                                                                                 \
    if (iid == kSelf) {                                                                                             \
      *out = this;                                                                                                  \
    } else if (iid == IID_IUnknown_ || iid == IID_IInspectable_ || iid == IID_IAgileObject_) {                      \
      *out = static_cast<Primary*>(this);                                                                           \
    } else {                                                                                                        \
      *out = query(iid);                                                                                            \
    }                                                                                                               \
    if (!*out) return E_NOINTERFACE;                                                                                \
    AddRef();                                                                                                       \
    return S_OK;                                                                                                    \
  }                                                                                                                 \
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {                                            \
    if (count) *count = 0;                                                                                          \
    if (iids) *iids = nullptr;                                                                                      \
    return S_OK;                                                                                                    \
  }                                                                                                                 \
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override { return make_hstring(RuntimeName, name); } \
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {                                             \
    *level = BaseTrust;                                                                                             \
    return S_OK;                                                                                                    \
  }

// The stand-in object behind `p`, when `p` is exactly its `Interface` pointer.
template <class T, class Interface>
Ref<T> unwrap(Interface* p) {
  if (!p) return {};
  void* self = nullptr;
  if (FAILED(p->QueryInterface(T::kSelf, &self)) || !self) return {};
  Ref<T> object(static_cast<T*>(self), false);
  if (static_cast<Interface*>(object.get()) != p) return {};
  return object;
}

// ---- asynchronous operations --------------------------------------------------------------

enum class AsyncMode { now, later, inline_ };

AsyncMode async_mode() {
  std::optional<std::string> mode = setting("async");
  if (mode == "later") return AsyncMode::later;
  if (mode == "inline") return AsyncMode::inline_;
  return AsyncMode::now;
}

template <class IOp, class IHandler, class ResultAbi>
class AsyncOperation final : public IOp, public ::IAsyncInfo, private Counted {
  STANDIN_OBJECT(AsyncOperation, u"Windows.Foundation.IAsyncOperation`1", IOp)

 public:
  using Produce = HRESULT (*)(void* context, ResultAbi* result);

  // `finish` runs when the operation completes and either fails or yields the result.
  template <class Finish>
  static IOp* start(std::string name, const GUID& op_iid, const GUID& handler_iid, Finish finish) {
    auto* op = new AsyncOperation(std::move(name), op_iid, handler_iid);
    op->finish_ = new FinishImpl<Finish>(std::move(finish));
    switch (async_mode()) {
      case AsyncMode::now:
        op->complete();
        break;
      case AsyncMode::later: {
        op->AddRef();  // held by the thread
        HANDLE thread = CreateThread(nullptr, 0, &AsyncOperation::later, op, 0, nullptr);
        std::lock_guard lock(state().mutex);
        state().threads.push_back(thread);
        break;
      }
      case AsyncMode::inline_:
        break;  // completes inside put_Completed
    }
    return op;
  }

  HRESULT STDMETHODCALLTYPE put_Completed(IHandler* handler) override {
    note(name_ + ".put_Completed");
    if (!handler) return E_POINTER;
    // The handler must be what it claims: the generic instance's own IID, and agile.
    void* probe = nullptr;
    if (FAILED(handler->QueryInterface(handler_iid_, &probe))) {
      note(name_ + " handler does not answer " + guid_text(handler_iid_));
      return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(probe)->Release();
    if (FAILED(handler->QueryInterface(IID_IAgileObject_, &probe))) {
      note(name_ + " handler is not agile");
      return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(probe)->Release();
    bool finished;
    {
      std::lock_guard lock(mutex_);
      if (handler_) return kIllegalDelegate;
      handler->AddRef();
      handler_ = handler;
      finished = status_ != Started;
    }
    if (async_mode() == AsyncMode::inline_ && !finished) {
      complete();
    } else if (finished) {
      invoke();  // set after completion: called at once, on this thread
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IHandler**) override { return unexpected("get_Completed"); }
  HRESULT STDMETHODCALLTYPE GetResults(ResultAbi* results) override {
    note(name_ + ".GetResults");
    std::lock_guard lock(mutex_);
    if (status_ == Started) return kIllegalMethodCall;
    if (status_ == Error) return error_;
    if constexpr (std::is_pointer_v<ResultAbi>) {
      if (result_) result_->AddRef();
    }
    *results = result_;
    return S_OK;
  }

  // IAsyncInfo
  HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
    std::lock_guard lock(mutex_);
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
    std::lock_guard lock(mutex_);
    *code = status_ == Error ? error_ : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return unexpected("IAsyncInfo.Cancel"); }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

 private:
  struct FinishBase {
    virtual ~FinishBase() = default;
    virtual HRESULT run(ResultAbi* result) = 0;
  };
  template <class F>
  struct FinishImpl final : FinishBase {
    explicit FinishImpl(F f) : f_(std::move(f)) {}
    HRESULT run(ResultAbi* result) override { return f_(result); }
    F f_;
  };

  AsyncOperation(std::string name, const GUID& op_iid, const GUID& handler_iid)
      : Counted(true), name_(std::move(name)), op_iid_(op_iid), handler_iid_(handler_iid) {}
  ~AsyncOperation() {
    if constexpr (std::is_pointer_v<ResultAbi>) {
      if (result_) result_->Release();
    }
    if (handler_) handler_->Release();
    delete finish_;
  }

  void* query(REFIID iid) {
    if (iid == IID_IAsyncInfo_) return static_cast<::IAsyncInfo*>(this);
    if (iid == op_iid_) return static_cast<IOp*>(this);
    return nullptr;
  }

  static DWORD WINAPI later(void* context) {
    auto* op = static_cast<AsyncOperation*>(context);
    Sleep(30);
    op->complete();
    op->Release();
    return 0;
  }

  void complete() {
    ResultAbi result{};
    HRESULT hr = finish_->run(&result);
    bool call_handler;
    {
      std::lock_guard lock(mutex_);
      if (FAILED(hr)) {
        status_ = Error;
        error_ = hr;
      } else {
        status_ = Completed;
        result_ = result;
      }
      call_handler = handler_ != nullptr;
    }
    if (call_handler) invoke();
  }

  void invoke() {
    IHandler* handler;
    AsyncStatus status;
    {
      std::lock_guard lock(mutex_);
      handler = handler_;
      status = status_;
    }
    note(name_ + ".Invoke");
    handler->Invoke(this, status);
  }

  std::string name_;
  GUID op_iid_;
  GUID handler_iid_;
  FinishBase* finish_ = nullptr;
  std::mutex mutex_;
  AsyncStatus status_ = Started;
  HRESULT error_ = S_OK;
  ResultAbi result_{};
  IHandler* handler_ = nullptr;
};

using StoreOperation = AsyncOperation<IAsyncOperation_UInt32, AsyncOperationCompletedHandler_UInt32, UINT32>;
using DecoderOperation =
    AsyncOperation<IAsyncOperation_BitmapDecoder, AsyncOperationCompletedHandler_BitmapDecoder, IBitmapDecoder*>;
using BitmapOperation =
    AsyncOperation<IAsyncOperation_SoftwareBitmap, AsyncOperationCompletedHandler_SoftwareBitmap, ISoftwareBitmap*>;
using RecognizeOperation =
    AsyncOperation<IAsyncOperation_OcrResult, AsyncOperationCompletedHandler_OcrResult, IOcrResult*>;

// ---- collections --------------------------------------------------------------------------

template <class View, class Iterable, class Iterator, class Item>
class VectorView;

template <class View, class Iterable, class Iterator, class Item>
class ListIterator final : public Iterator, private Counted {
  STANDIN_OBJECT(ListIterator, u"Windows.Foundation.Collections.IIterator`1", Iterator)

 public:
  using Owner = VectorView<View, Iterable, Iterator, Item>;
  ListIterator(Owner* owner, const GUID& iid) : Counted(true), owner_(owner), iid_(iid) {}

  HRESULT STDMETHODCALLTYPE get_Current(Item** current) override {
    Outcome o = outcome(owner_->name() + "Iterator.get_Current");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *current = nullptr;
      return S_OK;
    }
    if (index_ >= owner_->items().size()) return kBounds;
    *current = owner_->items()[index_].get();
    (*current)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* has) override {
    Outcome o = outcome(owner_->name() + "Iterator.get_HasCurrent");
    if (FAILED(o.hr)) return o.hr;
    *has = index_ < owner_->items().size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(boolean* has) override {
    Outcome o = outcome(owner_->name() + "Iterator.MoveNext");
    if (FAILED(o.hr)) return o.hr;
    if (index_ < owner_->items().size()) ++index_;
    *has = index_ < owner_->items().size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, Item**, UINT32*) override { return unexpected("IIterator.GetMany"); }

 private:
  void* query(REFIID iid) { return iid == iid_ ? static_cast<Iterator*>(this) : nullptr; }
  Ref<Owner> owner_;
  GUID iid_;
  std::size_t index_ = 0;
};

struct ListIids {
  GUID view;
  GUID iterable;
  GUID iterator;
};

template <class View, class Iterable, class Iterator, class Item>
class VectorView final : public View, public Iterable, private Counted {
  STANDIN_OBJECT(VectorView, u"Windows.Foundation.Collections.IVectorView`1", View)

 public:
  VectorView(std::string name, ListIids iids, std::vector<Ref<Item>> items)
      : Counted(true), name_(std::move(name)), iids_(iids), items_(std::move(items)) {}
  const std::string& name() const { return name_; }
  const std::vector<Ref<Item>>& items() const { return items_; }

  HRESULT STDMETHODCALLTYPE First(Iterator** first) override {
    Outcome o = outcome(name_ + ".First");
    if (FAILED(o.hr)) return o.hr;
    *first = o.null ? nullptr
                    : static_cast<Iterator*>(new ListIterator<View, Iterable, Iterator, Item>(this, iids_.iterator));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(UINT32, Item**) override { return unexpected("IVectorView.GetAt"); }
  HRESULT STDMETHODCALLTYPE get_Size(UINT32*) override { return unexpected("IVectorView.get_Size"); }
  HRESULT STDMETHODCALLTYPE IndexOf(Item*, UINT32*, boolean*) override { return unexpected("IVectorView.IndexOf"); }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, UINT32, Item**, UINT32*) override {
    return unexpected("IVectorView.GetMany");
  }

 private:
  void* query(REFIID iid) {
    if (iid == iids_.view) return static_cast<View*>(this);
    if (iid == iids_.iterable) return static_cast<Iterable*>(this);
    return nullptr;
  }
  std::string name_;
  ListIids iids_;
  std::vector<Ref<Item>> items_;
};

using LanguageList = VectorView<IVectorView_Language, IIterable_Language, IIterator_Language, ILanguage>;
using LineList = VectorView<IVectorView_OcrLine, IIterable_OcrLine, IIterator_OcrLine, IOcrLine>;
using WordList = VectorView<IVectorView_OcrWord, IIterable_OcrWord, IIterator_OcrWord, IOcrWord>;

// ---- Windows.Globalization.Language -------------------------------------------------------

class Language final : public ILanguage, private Counted {
  STANDIN_OBJECT(Language, u"Windows.Globalization.Language", ILanguage)

 public:
  explicit Language(std::u16string tag) : Counted(true), tag_(std::move(tag)) {}
  const std::u16string& tag() const { return tag_; }

  HRESULT STDMETHODCALLTYPE get_LanguageTag(HSTRING* value) override {
    Outcome o = outcome("Language.get_LanguageTag");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *value = nullptr;
      return S_OK;
    }
    return make_hstring(tag_, value);
  }
  HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return unexpected("Language.get_DisplayName"); }
  HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING*) override { return unexpected("Language.get_NativeName"); }
  HRESULT STDMETHODCALLTYPE get_Script(HSTRING*) override { return unexpected("Language.get_Script"); }

 private:
  void* query(REFIID iid) { return iid == IID_ILanguage ? static_cast<ILanguage*>(this) : nullptr; }
  std::u16string tag_;
};

bool well_formed_tag(std::u16string_view tag) {
  if (tag.empty() || tag.front() == u'-' || tag.back() == u'-') return false;
  for (char16_t c : tag)
    if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-')) return false;
  return true;
}

class LanguageFactory final : public IActivationFactory, public ILanguageFactory, private Counted {
  STANDIN_OBJECT(LanguageFactory, u"Windows.Globalization.Language", IActivationFactory)

 public:
  LanguageFactory() : Counted(false) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override {
    return unexpected("Language.ActivateInstance");
  }
  HRESULT STDMETHODCALLTYPE CreateLanguage(HSTRING tag, ILanguage** result) override {
    std::u16string text = from_hstring(tag);
    Outcome o = outcome("LanguageFactory.CreateLanguage", narrow(text));
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *result = nullptr;
      return S_OK;
    }
    if (!well_formed_tag(text)) return E_INVALIDARG;
    *result = new Language(text);
    return S_OK;
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IActivationFactory_) return static_cast<IActivationFactory*>(this);
    if (iid == IID_ILanguageFactory) return static_cast<ILanguageFactory*>(this);
    return nullptr;
  }
};

// ---- Windows.Storage.Streams --------------------------------------------------------------

class Stream final : public IRandomAccessStream,
                     public IOutputStream,
                     public IInputStream,
                     public IClosable,
                     private Counted {
  STANDIN_OBJECT(Stream, u"Windows.Storage.Streams.InMemoryRandomAccessStream", IRandomAccessStream)

 public:
  Stream() : Counted(true) {}

  // Writes at the current position and moves past what was written, like the real stream.
  HRESULT write(const std::vector<BYTE>& bytes) {
    std::lock_guard lock(mutex_);
    if (closed_) return kClosed;
    if (data_.size() < position_ + bytes.size()) data_.resize(position_ + bytes.size());
    std::memcpy(data_.data() + position_, bytes.data(), bytes.size());
    position_ += bytes.size();
    return S_OK;
  }
  // What a reader starting at the current position sees.
  HRESULT read_rest(std::vector<BYTE>& out) {
    std::lock_guard lock(mutex_);
    if (closed_) return kClosed;
    out.assign(data_.begin() + static_cast<std::ptrdiff_t>(std::min<UINT64>(position_, data_.size())), data_.end());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Seek(UINT64 position) override {
    Outcome o = outcome("Stream.Seek", std::to_string(position));
    if (FAILED(o.hr)) return o.hr;
    std::lock_guard lock(mutex_);
    if (closed_) return kClosed;
    position_ = position;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    note("Stream.Close");
    std::lock_guard lock(mutex_);
    closed_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT64*) override { return unexpected("Stream.get_Size"); }
  HRESULT STDMETHODCALLTYPE put_Size(UINT64) override { return unexpected("Stream.put_Size"); }
  HRESULT STDMETHODCALLTYPE GetInputStreamAt(UINT64, IInputStream**) override {
    return unexpected("Stream.GetInputStreamAt");
  }
  HRESULT STDMETHODCALLTYPE GetOutputStreamAt(UINT64, IOutputStream**) override {
    return unexpected("Stream.GetOutputStreamAt");
  }
  HRESULT STDMETHODCALLTYPE get_Position(UINT64*) override { return unexpected("Stream.get_Position"); }
  HRESULT STDMETHODCALLTYPE CloneStream(IRandomAccessStream**) override { return unexpected("Stream.CloneStream"); }
  HRESULT STDMETHODCALLTYPE get_CanRead(boolean*) override { return unexpected("Stream.get_CanRead"); }
  HRESULT STDMETHODCALLTYPE get_CanWrite(boolean*) override { return unexpected("Stream.get_CanWrite"); }
  HRESULT STDMETHODCALLTYPE WriteAsync(IInspectable*, IInspectable**) override {
    return unexpected("Stream.WriteAsync");
  }
  HRESULT STDMETHODCALLTYPE FlushAsync(IInspectable**) override { return unexpected("Stream.FlushAsync"); }
  HRESULT STDMETHODCALLTYPE ReadAsync(IInspectable*, UINT32, INT32, IInspectable**) override {
    return unexpected("Stream.ReadAsync");
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IRandomAccessStream) return static_cast<IRandomAccessStream*>(this);
    if (iid == IID_IOutputStream) return static_cast<IOutputStream*>(this);
    if (iid == IID_IInputStream) return static_cast<IInputStream*>(this);
    if (iid == IID_IClosable) return static_cast<IClosable*>(this);
    return nullptr;
  }
  std::mutex mutex_;
  std::vector<BYTE> data_;
  UINT64 position_ = 0;
  bool closed_ = false;
};

class StreamFactory final : public IActivationFactory, private Counted {
  STANDIN_OBJECT(StreamFactory, u"Windows.Storage.Streams.InMemoryRandomAccessStream", IActivationFactory)

 public:
  StreamFactory() : Counted(false) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    Outcome o = outcome("Stream.ActivateInstance");
    if (FAILED(o.hr)) return o.hr;
    *instance = o.null ? nullptr : static_cast<IRandomAccessStream*>(new Stream);
    return S_OK;
  }

 private:
  void* query(REFIID iid) { return iid == IID_IActivationFactory_ ? static_cast<IActivationFactory*>(this) : nullptr; }
};

class DataWriter final : public IDataWriter, public IClosable, private Counted {
  STANDIN_OBJECT(DataWriter, u"Windows.Storage.Streams.DataWriter", IDataWriter)

 public:
  explicit DataWriter(Ref<Stream> stream) : Counted(true), stream_(std::move(stream)) {}

  HRESULT STDMETHODCALLTYPE WriteBytes(UINT32 size, BYTE* value) override {
    Outcome o = outcome("DataWriter.WriteBytes", std::to_string(size));
    if (FAILED(o.hr)) return o.hr;
    if (size && !value) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (!stream_) return kClosed;
    pending_.insert(pending_.end(), value, value + size);
    return S_OK;
  }
  // The bytes reach the stream only when the operation completes.
  HRESULT STDMETHODCALLTYPE StoreAsync(IAsyncOperation_UInt32** operation) override {
    Outcome o = outcome("DataWriter.StoreAsync");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *operation = nullptr;
      return S_OK;
    }
    {
      std::lock_guard lock(mutex_);
      if (!stream_) return kClosed;
      ++stores_running_;
    }
    Ref<DataWriter> self(this);
    *operation = StoreOperation::start("DataWriter.StoreAsync", IID_IAsyncOperation_UInt32,
                                       IID_AsyncOperationCompletedHandler_UInt32,
                                       [self](UINT32* stored) { return self->finish_store(stored); });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DetachStream(IOutputStream** output) override {
    Outcome o = outcome("DataWriter.DetachStream");
    if (FAILED(o.hr)) return o.hr;
    std::lock_guard lock(mutex_);
    if (stores_running_ > 0) return HRESULT_FROM_WIN32(ERROR_INVALID_OPERATION);
    if (!stream_) return kClosed;
    Stream* stream = stream_.detach();
    *output = o.null ? nullptr : static_cast<IOutputStream*>(stream);
    if (o.null) stream->Release();
    return S_OK;
  }
  // Closing the writer closes a stream that was not detached.
  HRESULT STDMETHODCALLTYPE Close() override {
    note("DataWriter.Close");
    std::lock_guard lock(mutex_);
    if (stream_) stream_->Close();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_UnstoredBufferLength(UINT32*) override {
    return unexpected("DataWriter.get_UnstoredBufferLength");
  }
  HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32*) override {
    return unexpected("DataWriter.get_UnicodeEncoding");
  }
  HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32) override { return unexpected("DataWriter.put_UnicodeEncoding"); }
  HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32*) override { return unexpected("DataWriter.get_ByteOrder"); }
  HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32) override { return unexpected("DataWriter.put_ByteOrder"); }
  HRESULT STDMETHODCALLTYPE WriteByte(BYTE) override { return unexpected("DataWriter.WriteByte"); }
  HRESULT STDMETHODCALLTYPE WriteBuffer(IInspectable*) override { return unexpected("DataWriter.WriteBuffer"); }
  HRESULT STDMETHODCALLTYPE WriteBufferRange(IInspectable*, UINT32, UINT32) override {
    return unexpected("DataWriter.WriteBufferRange");
  }
  HRESULT STDMETHODCALLTYPE WriteBoolean(boolean) override { return unexpected("DataWriter.WriteBoolean"); }
  HRESULT STDMETHODCALLTYPE WriteGuid(GUID) override { return unexpected("DataWriter.WriteGuid"); }
  HRESULT STDMETHODCALLTYPE WriteInt16(INT16) override { return unexpected("DataWriter.WriteInt16"); }
  HRESULT STDMETHODCALLTYPE WriteInt32(INT32) override { return unexpected("DataWriter.WriteInt32"); }
  HRESULT STDMETHODCALLTYPE WriteInt64(INT64) override { return unexpected("DataWriter.WriteInt64"); }
  HRESULT STDMETHODCALLTYPE WriteUInt16(UINT16) override { return unexpected("DataWriter.WriteUInt16"); }
  HRESULT STDMETHODCALLTYPE WriteUInt32(UINT32) override { return unexpected("DataWriter.WriteUInt32"); }
  HRESULT STDMETHODCALLTYPE WriteUInt64(UINT64) override { return unexpected("DataWriter.WriteUInt64"); }
  HRESULT STDMETHODCALLTYPE WriteSingle(FLOAT) override { return unexpected("DataWriter.WriteSingle"); }
  HRESULT STDMETHODCALLTYPE WriteDouble(DOUBLE) override { return unexpected("DataWriter.WriteDouble"); }
  HRESULT STDMETHODCALLTYPE WriteDateTime(INT64) override { return unexpected("DataWriter.WriteDateTime"); }
  HRESULT STDMETHODCALLTYPE WriteTimeSpan(INT64) override { return unexpected("DataWriter.WriteTimeSpan"); }
  HRESULT STDMETHODCALLTYPE WriteString(HSTRING, UINT32*) override { return unexpected("DataWriter.WriteString"); }
  HRESULT STDMETHODCALLTYPE MeasureString(HSTRING, UINT32*) override { return unexpected("DataWriter.MeasureString"); }
  HRESULT STDMETHODCALLTYPE FlushAsync(IInspectable**) override { return unexpected("DataWriter.FlushAsync"); }
  HRESULT STDMETHODCALLTYPE DetachBuffer(IInspectable**) override { return unexpected("DataWriter.DetachBuffer"); }

 private:
  HRESULT finish_store(UINT32* stored) {
    Outcome o = outcome("DataWriter.StoreAsync.result");
    std::lock_guard lock(mutex_);
    --stores_running_;
    if (FAILED(o.hr)) return o.hr;
    if (!stream_) return kClosed;
    HRESULT hr = stream_->write(pending_);
    if (FAILED(hr)) return hr;
    *stored = static_cast<UINT32>(pending_.size());
    pending_.clear();
    return S_OK;
  }
  void* query(REFIID iid) {
    if (iid == IID_IDataWriter) return static_cast<IDataWriter*>(this);
    if (iid == IID_IClosable) return static_cast<IClosable*>(this);
    return nullptr;
  }
  std::mutex mutex_;
  Ref<Stream> stream_;
  std::vector<BYTE> pending_;
  int stores_running_ = 0;
};

class DataWriterFactory final : public IActivationFactory, public IDataWriterFactory, private Counted {
  STANDIN_OBJECT(DataWriterFactory, u"Windows.Storage.Streams.DataWriter", IActivationFactory)

 public:
  DataWriterFactory() : Counted(false) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override {
    return unexpected("DataWriter.ActivateInstance");
  }
  HRESULT STDMETHODCALLTYPE CreateDataWriter(IOutputStream* output, IDataWriter** writer) override {
    Outcome o = outcome("DataWriterFactory.CreateDataWriter");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *writer = nullptr;
      return S_OK;
    }
    Ref<Stream> stream = unwrap<Stream>(output);
    if (!stream) {
      note("CreateDataWriter was not given the stream's IOutputStream");
      return E_INVALIDARG;
    }
    *writer = new DataWriter(std::move(stream));
    return S_OK;
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IActivationFactory_) return static_cast<IActivationFactory*>(this);
    if (iid == IID_IDataWriterFactory) return static_cast<IDataWriterFactory*>(this);
    return nullptr;
  }
};

// ---- Windows.Graphics.Imaging -------------------------------------------------------------

class SoftwareBitmap final : public ISoftwareBitmap, public IClosable, private Counted {
  STANDIN_OBJECT(SoftwareBitmap, u"Windows.Graphics.Imaging.SoftwareBitmap", ISoftwareBitmap)

 public:
  explicit SoftwareBitmap(ImageScript image) : Counted(true), image_(std::move(image)) {}
  const ImageScript& image() const { return image_; }

  HRESULT STDMETHODCALLTYPE get_PixelWidth(INT32* value) override {
    Outcome o = outcome("SoftwareBitmap.get_PixelWidth");
    if (FAILED(o.hr)) return o.hr;
    *value = image_.width;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PixelHeight(INT32* value) override {
    Outcome o = outcome("SoftwareBitmap.get_PixelHeight");
    if (FAILED(o.hr)) return o.hr;
    *value = image_.height;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(INT32*) override {
    return unexpected("SoftwareBitmap.get_BitmapPixelFormat");
  }
  HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(INT32*) override {
    return unexpected("SoftwareBitmap.get_BitmapAlphaMode");
  }
  HRESULT STDMETHODCALLTYPE get_IsReadOnly(boolean*) override { return unexpected("SoftwareBitmap.get_IsReadOnly"); }
  HRESULT STDMETHODCALLTYPE put_DpiX(DOUBLE) override { return unexpected("SoftwareBitmap.put_DpiX"); }
  HRESULT STDMETHODCALLTYPE get_DpiX(DOUBLE*) override { return unexpected("SoftwareBitmap.get_DpiX"); }
  HRESULT STDMETHODCALLTYPE put_DpiY(DOUBLE) override { return unexpected("SoftwareBitmap.put_DpiY"); }
  HRESULT STDMETHODCALLTYPE get_DpiY(DOUBLE*) override { return unexpected("SoftwareBitmap.get_DpiY"); }
  HRESULT STDMETHODCALLTYPE LockBuffer(INT32, IInspectable**) override {
    return unexpected("SoftwareBitmap.LockBuffer");
  }
  HRESULT STDMETHODCALLTYPE CopyTo(ISoftwareBitmap*) override { return unexpected("SoftwareBitmap.CopyTo"); }
  HRESULT STDMETHODCALLTYPE CopyFromBuffer(IInspectable*) override {
    return unexpected("SoftwareBitmap.CopyFromBuffer");
  }
  HRESULT STDMETHODCALLTYPE CopyToBuffer(IInspectable*) override { return unexpected("SoftwareBitmap.CopyToBuffer"); }
  HRESULT STDMETHODCALLTYPE GetReadOnlyView(ISoftwareBitmap**) override {
    return unexpected("SoftwareBitmap.GetReadOnlyView");
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    note("SoftwareBitmap.Close");
    return S_OK;
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_ISoftwareBitmap) return static_cast<ISoftwareBitmap*>(this);
    if (iid == IID_IClosable) return static_cast<IClosable*>(this);
    return nullptr;
  }
  ImageScript image_;
};

// A decoder is also its own first frame.
class BitmapDecoder final : public IBitmapDecoder,
                            public IBitmapFrame,
                            public IBitmapFrameWithSoftwareBitmap,
                            private Counted {
  STANDIN_OBJECT(BitmapDecoder, u"Windows.Graphics.Imaging.BitmapDecoder", IBitmapDecoder)

 public:
  explicit BitmapDecoder(ImageScript image) : Counted(true), image_(std::move(image)) {}

  HRESULT STDMETHODCALLTYPE GetSoftwareBitmapAsync(IAsyncOperation_SoftwareBitmap** value) override {
    Outcome o = outcome("BitmapDecoder.GetSoftwareBitmapAsync");
    if (FAILED(o.hr)) return o.hr;
    ImageScript image = image_;
    *value = BitmapOperation::start("BitmapDecoder.GetSoftwareBitmapAsync", IID_IAsyncOperation_SoftwareBitmap,
                                    IID_AsyncOperationCompletedHandler_SoftwareBitmap,
                                    [image](ISoftwareBitmap** bitmap) -> HRESULT {
                                      Outcome done = outcome("BitmapDecoder.GetSoftwareBitmapAsync.result");
                                      if (FAILED(done.hr)) return done.hr;
                                      *bitmap = done.null ? nullptr : new SoftwareBitmap(image);
                                      return S_OK;
                                    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSoftwareBitmapConvertedAsync(INT32, INT32, IAsyncOperation_SoftwareBitmap**) override {
    return unexpected("BitmapDecoder.GetSoftwareBitmapConvertedAsync");
  }
  HRESULT STDMETHODCALLTYPE GetSoftwareBitmapTransformedAsync(INT32, INT32, IInspectable*, INT32, INT32,
                                                              IAsyncOperation_SoftwareBitmap**) override {
    return unexpected("BitmapDecoder.GetSoftwareBitmapTransformedAsync");
  }
  HRESULT STDMETHODCALLTYPE get_BitmapContainerProperties(IInspectable**) override {
    return unexpected("BitmapDecoder.get_BitmapContainerProperties");
  }
  HRESULT STDMETHODCALLTYPE get_DecoderInformation(IInspectable**) override {
    return unexpected("BitmapDecoder.get_DecoderInformation");
  }
  HRESULT STDMETHODCALLTYPE get_FrameCount(UINT32*) override { return unexpected("BitmapDecoder.get_FrameCount"); }
  HRESULT STDMETHODCALLTYPE GetPreviewAsync(IInspectable**) override {
    return unexpected("BitmapDecoder.GetPreviewAsync");
  }
  HRESULT STDMETHODCALLTYPE GetFrameAsync(UINT32, IInspectable**) override {
    return unexpected("BitmapDecoder.GetFrameAsync");
  }
  HRESULT STDMETHODCALLTYPE GetThumbnailAsync(IInspectable**) override {
    return unexpected("BitmapFrame.GetThumbnailAsync");
  }
  HRESULT STDMETHODCALLTYPE get_BitmapProperties(IInspectable**) override {
    return unexpected("BitmapFrame.get_BitmapProperties");
  }
  HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(INT32*) override {
    return unexpected("BitmapFrame.get_BitmapPixelFormat");
  }
  HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(INT32*) override {
    return unexpected("BitmapFrame.get_BitmapAlphaMode");
  }
  HRESULT STDMETHODCALLTYPE get_DpiX(DOUBLE*) override { return unexpected("BitmapFrame.get_DpiX"); }
  HRESULT STDMETHODCALLTYPE get_DpiY(DOUBLE*) override { return unexpected("BitmapFrame.get_DpiY"); }
  HRESULT STDMETHODCALLTYPE get_PixelWidth(UINT32*) override { return unexpected("BitmapFrame.get_PixelWidth"); }
  HRESULT STDMETHODCALLTYPE get_PixelHeight(UINT32*) override { return unexpected("BitmapFrame.get_PixelHeight"); }
  HRESULT STDMETHODCALLTYPE get_OrientedPixelWidth(UINT32*) override {
    return unexpected("BitmapFrame.get_OrientedPixelWidth");
  }
  HRESULT STDMETHODCALLTYPE get_OrientedPixelHeight(UINT32*) override {
    return unexpected("BitmapFrame.get_OrientedPixelHeight");
  }
  HRESULT STDMETHODCALLTYPE GetPixelDataAsync(IInspectable**) override {
    return unexpected("BitmapFrame.GetPixelDataAsync");
  }
  HRESULT STDMETHODCALLTYPE GetPixelDataTransformedAsync(INT32, INT32, IInspectable*, INT32, INT32,
                                                         IInspectable**) override {
    return unexpected("BitmapFrame.GetPixelDataTransformedAsync");
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IBitmapDecoder) return static_cast<IBitmapDecoder*>(this);
    if (iid == IID_IBitmapFrame) return static_cast<IBitmapFrame*>(this);
    if (iid == IID_IBitmapFrameWithSoftwareBitmap) return static_cast<IBitmapFrameWithSoftwareBitmap*>(this);
    return nullptr;
  }
  ImageScript image_;
};

class BitmapDecoderFactory final : public IActivationFactory, public IBitmapDecoderStatics, private Counted {
  STANDIN_OBJECT(BitmapDecoderFactory, u"Windows.Graphics.Imaging.BitmapDecoder", IActivationFactory)

 public:
  BitmapDecoderFactory() : Counted(false) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override {
    return unexpected("BitmapDecoder.ActivateInstance");
  }
  // Decoding reads the stream from its current position when the operation runs.
  HRESULT STDMETHODCALLTYPE CreateAsync(IRandomAccessStream* stream, IAsyncOperation_BitmapDecoder** op) override {
    Outcome o = outcome("BitmapDecoderStatics.CreateAsync");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *op = nullptr;
      return S_OK;
    }
    Ref<Stream> source = unwrap<Stream>(stream);
    if (!source) {
      note("CreateAsync was not given the stream's IRandomAccessStream");
      return E_INVALIDARG;
    }
    *op = DecoderOperation::start("BitmapDecoderStatics.CreateAsync", IID_IAsyncOperation_BitmapDecoder,
                                  IID_AsyncOperationCompletedHandler_BitmapDecoder,
                                  [source](IBitmapDecoder** decoder) -> HRESULT {
                                    Outcome done = outcome("BitmapDecoderStatics.CreateAsync.result");
                                    if (FAILED(done.hr)) return done.hr;
                                    std::vector<BYTE> bytes;
                                    HRESULT hr = source->read_rest(bytes);
                                    if (FAILED(hr)) return hr;
                                    std::optional<ImageScript> image = parse_image(bytes);
                                    if (!image) return kComponentNotFound;
                                    *decoder = done.null ? nullptr : new BitmapDecoder(std::move(*image));
                                    return S_OK;
                                  });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BmpDecoderId(GUID*) override { return unexpected("get_BmpDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_JpegDecoderId(GUID*) override { return unexpected("get_JpegDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_PngDecoderId(GUID*) override { return unexpected("get_PngDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_TiffDecoderId(GUID*) override { return unexpected("get_TiffDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_GifDecoderId(GUID*) override { return unexpected("get_GifDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_JpegXRDecoderId(GUID*) override { return unexpected("get_JpegXRDecoderId"); }
  HRESULT STDMETHODCALLTYPE get_IcoDecoderId(GUID*) override { return unexpected("get_IcoDecoderId"); }
  HRESULT STDMETHODCALLTYPE GetDecoderInformationEnumerator(IInspectable**) override {
    return unexpected("GetDecoderInformationEnumerator");
  }
  HRESULT STDMETHODCALLTYPE CreateWithIdAsync(GUID, IRandomAccessStream*, IAsyncOperation_BitmapDecoder**) override {
    return unexpected("BitmapDecoderStatics.CreateWithIdAsync");
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IActivationFactory_) return static_cast<IActivationFactory*>(this);
    if (iid == IID_IBitmapDecoderStatics) return static_cast<IBitmapDecoderStatics*>(this);
    return nullptr;
  }
};

// ---- Windows.Media.Ocr --------------------------------------------------------------------

HRESULT text_result(const std::string& call, const std::u16string& text, HSTRING* value) {
  Outcome o = outcome(call);
  if (FAILED(o.hr)) return o.hr;
  if (o.null) {
    *value = nullptr;
    return S_OK;
  }
  return make_hstring(text, value);
}

class OcrWord final : public IOcrWord, private Counted {
  STANDIN_OBJECT(OcrWord, u"Windows.Media.Ocr.OcrWord", IOcrWord)

 public:
  explicit OcrWord(WordScript word) : Counted(true), word_(std::move(word)) {}
  HRESULT STDMETHODCALLTYPE get_BoundingRect(Rect* value) override {
    Outcome o = outcome("OcrWord.get_BoundingRect");
    if (FAILED(o.hr)) return o.hr;
    *value = word_.box;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) override {
    return text_result("OcrWord.get_Text", word_.text, value);
  }

 private:
  void* query(REFIID iid) { return iid == IID_IOcrWord ? static_cast<IOcrWord*>(this) : nullptr; }
  WordScript word_;
};

class OcrLine final : public IOcrLine, private Counted {
  STANDIN_OBJECT(OcrLine, u"Windows.Media.Ocr.OcrLine", IOcrLine)

 public:
  explicit OcrLine(LineScript line) : Counted(true), line_(std::move(line)) {}
  HRESULT STDMETHODCALLTYPE get_Words(IVectorView_OcrWord** value) override {
    Outcome o = outcome("OcrLine.get_Words");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *value = nullptr;
      return S_OK;
    }
    std::vector<Ref<IOcrWord>> words;
    for (const WordScript& word : line_.words) words.emplace_back(new OcrWord(word), false);
    *value = new WordList("Words", {IID_IVectorView_OcrWord, IID_IIterable_OcrWord, IID_IIterator_OcrWord},
                          std::move(words));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) override {
    return text_result("OcrLine.get_Text", line_.text, value);
  }

 private:
  void* query(REFIID iid) { return iid == IID_IOcrLine ? static_cast<IOcrLine*>(this) : nullptr; }
  LineScript line_;
};

class OcrResult final : public IOcrResult, private Counted {
  STANDIN_OBJECT(OcrResult, u"Windows.Media.Ocr.OcrResult", IOcrResult)

 public:
  explicit OcrResult(ImageScript image) : Counted(true), image_(std::move(image)) {}
  HRESULT STDMETHODCALLTYPE get_Lines(IVectorView_OcrLine** value) override {
    Outcome o = outcome("OcrResult.get_Lines");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *value = nullptr;
      return S_OK;
    }
    std::vector<Ref<IOcrLine>> lines;
    for (const LineScript& line : image_.lines) lines.emplace_back(new OcrLine(line), false);
    *value = new LineList("Lines", {IID_IVectorView_OcrLine, IID_IIterable_OcrLine, IID_IIterator_OcrLine},
                          std::move(lines));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TextAngle(IInspectable**) override { return unexpected("OcrResult.get_TextAngle"); }
  HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) override {
    return text_result("OcrResult.get_Text", image_.text, value);
  }

 private:
  void* query(REFIID iid) { return iid == IID_IOcrResult ? static_cast<IOcrResult*>(this) : nullptr; }
  ImageScript image_;
};

UINT32 max_dimension() {
  std::optional<std::string> value = setting("maxdim");
  return value ? static_cast<UINT32>(std::strtoul(value->c_str(), nullptr, 10)) : 10000;
}

class OcrEngine final : public IOcrEngine, private Counted {
  STANDIN_OBJECT(OcrEngine, u"Windows.Media.Ocr.OcrEngine", IOcrEngine)

 public:
  explicit OcrEngine(std::u16string tag) : Counted(true), tag_(std::move(tag)) {}
  HRESULT STDMETHODCALLTYPE RecognizeAsync(ISoftwareBitmap* bitmap, IAsyncOperation_OcrResult** result) override {
    Outcome o = outcome("OcrEngine.RecognizeAsync", narrow(tag_));
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *result = nullptr;
      return S_OK;
    }
    Ref<SoftwareBitmap> source = unwrap<SoftwareBitmap>(bitmap);
    if (!source) {
      note("RecognizeAsync was not given a SoftwareBitmap");
      return E_INVALIDARG;
    }
    const ImageScript& image = source->image();
    UINT32 limit = max_dimension();
    if (static_cast<UINT32>(image.width) > limit || static_cast<UINT32>(image.height) > limit) {
      note("RecognizeAsync was given a bitmap beyond MaxImageDimension");
      return E_INVALIDARG;
    }
    ImageScript copy = image;
    *result =
        RecognizeOperation::start("OcrEngine.RecognizeAsync", IID_IAsyncOperation_OcrResult,
                                  IID_AsyncOperationCompletedHandler_OcrResult, [copy](IOcrResult** out) -> HRESULT {
                                    Outcome done = outcome("OcrEngine.RecognizeAsync.result");
                                    if (FAILED(done.hr)) return done.hr;
                                    *out = done.null ? nullptr : new OcrResult(copy);
                                    return S_OK;
                                  });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_RecognizerLanguage(ILanguage**) override {
    return unexpected("OcrEngine.get_RecognizerLanguage");
  }

 private:
  void* query(REFIID iid) { return iid == IID_IOcrEngine ? static_cast<IOcrEngine*>(this) : nullptr; }
  std::u16string tag_;
};

std::vector<std::u16string> recognizer_languages() {
  std::vector<std::u16string> tags;
  for (const std::string& tag : split(setting("languages").value_or("en-US,de-DE"), ',')) tags.push_back(widen(tag));
  return tags;
}

bool same_tag(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

class OcrEngineFactory final : public IActivationFactory, public IOcrEngineStatics, private Counted {
  STANDIN_OBJECT(OcrEngineFactory, u"Windows.Media.Ocr.OcrEngine", IActivationFactory)

 public:
  OcrEngineFactory() : Counted(false) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override {
    return unexpected("OcrEngine.ActivateInstance");
  }
  HRESULT STDMETHODCALLTYPE get_MaxImageDimension(UINT32* value) override {
    Outcome o = outcome("OcrEngineStatics.get_MaxImageDimension");
    if (FAILED(o.hr)) return o.hr;
    *value = max_dimension();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AvailableRecognizerLanguages(IVectorView_Language** value) override {
    Outcome o = outcome("OcrEngineStatics.get_AvailableRecognizerLanguages");
    if (FAILED(o.hr)) return o.hr;
    if (o.null) {
      *value = nullptr;
      return S_OK;
    }
    std::vector<Ref<ILanguage>> languages;
    for (const std::u16string& tag : recognizer_languages()) languages.emplace_back(new Language(tag), false);
    *value = new LanguageList("Languages", {IID_IVectorView_Language, IID_IIterable_Language, IID_IIterator_Language},
                              std::move(languages));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsLanguageSupported(ILanguage*, boolean*) override {
    return unexpected("OcrEngineStatics.IsLanguageSupported");
  }
  HRESULT STDMETHODCALLTYPE TryCreateFromLanguage(ILanguage* language, IOcrEngine** result) override {
    Outcome o = outcome("OcrEngineStatics.TryCreateFromLanguage");
    if (FAILED(o.hr)) return o.hr;
    Ref<Language> source = unwrap<Language>(language);
    if (!source) {
      note("TryCreateFromLanguage was not given a Language");
      return E_INVALIDARG;
    }
    *result = nullptr;
    if (o.null) return S_OK;
    for (const std::u16string& tag : recognizer_languages())
      if (same_tag(tag, source->tag())) *result = new OcrEngine(tag);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TryCreateFromUserProfileLanguages(IOcrEngine** result) override {
    Outcome o = outcome("OcrEngineStatics.TryCreateFromUserProfileLanguages");
    if (FAILED(o.hr)) return o.hr;
    *result = nullptr;
    std::optional<std::string> profile = setting("profile");
    if (o.null || profile == "none") return S_OK;
    std::vector<std::u16string> tags = recognizer_languages();
    if (profile) {
      *result = new OcrEngine(widen(*profile));
    } else if (!tags.empty()) {
      *result = new OcrEngine(tags.front());
    }
    return S_OK;
  }

 private:
  void* query(REFIID iid) {
    if (iid == IID_IActivationFactory_) return static_cast<IActivationFactory*>(this);
    if (iid == IID_IOcrEngineStatics) return static_cast<IOcrEngineStatics*>(this);
    return nullptr;
  }
};

}  // namespace
}  // namespace standin

using namespace standin;

// Activation as combase performs it: one factory per class name. Like the real runtime, a
// thread in no apartment (and a process without an MTA) is refused.
extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING class_id, IActivationFactory** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  std::u16string name = from_hstring(class_id);
  HRESULT hr = S_OK;
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (setting("apartment") == "refuse" || CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED) {
    hr = CO_E_NOTINITIALIZED;
  } else if (name == u"Windows.Globalization.Language") {
    *factory = new LanguageFactory;
  } else if (name == u"Windows.Media.Ocr.OcrEngine") {
    *factory = new OcrEngineFactory;
  } else if (name == u"Windows.Storage.Streams.InMemoryRandomAccessStream") {
    *factory = new StreamFactory;
  } else if (name == u"Windows.Storage.Streams.DataWriter") {
    *factory = new DataWriterFactory;
  } else if (name == u"Windows.Graphics.Imaging.BitmapDecoder") {
    *factory = new BitmapDecoderFactory;
  } else {
    hr = CLASS_E_CLASSNOTAVAILABLE;
  }
  char code[16];
  std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
  std::lock_guard lock(state().mutex);
  state().activations += narrow(name) + " " + code + "\n";
  return hr;
}

const char* quorvane_ocr_standin_log() {
  std::lock_guard lock(state().mutex);
  state().log_snapshot = state().log;
  return state().log_snapshot.c_str();
}

const char* quorvane_ocr_standin_activation_log() {
  std::lock_guard lock(state().mutex);
  state().activations_snapshot = state().activations;
  return state().activations_snapshot.c_str();
}

long quorvane_ocr_standin_live_objects() { return g_live.load(); }

void quorvane_ocr_standin_quiesce() {
  std::vector<HANDLE> threads;
  {
    std::lock_guard lock(state().mutex);
    threads.swap(state().threads);
  }
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

void quorvane_ocr_standin_reset() {
  quorvane_ocr_standin_quiesce();
  std::lock_guard lock(state().mutex);
  state().log.clear();
  state().calls.clear();
}
