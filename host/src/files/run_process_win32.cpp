// run_process: locating the program, starting it, and, when asked, collecting its
// output and exit code.
#include <atomic>
#include <string>
#include <vector>

#include "common/params.h"
#include "common/utf.h"
#include "files/errors.h"
#include "files/handlers.h"
#include "files/launch.h"
#include "files/long_path.h"
#include "files/win32_support.h"

namespace quorvane::files {

namespace {

std::optional<std::wstring> module_folder() {
  std::optional<std::wstring> exe =
      fill_wide_buffer([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  if (!exe) return std::nullopt;
  return std::wstring(as_wide(parent_folder(as_u16(*exe))));
}

std::wstring system_folder() {
  std::optional<std::wstring> folder =
      fill_wide_buffer([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); });
  return folder.value_or(std::wstring());
}

std::wstring windows_folder() {
  std::optional<std::wstring> folder =
      fill_wide_buffer([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
  return folder.value_or(std::wstring());
}

std::optional<std::wstring> path_variable() {
  DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  DWORD n = GetEnvironmentVariableW(L"PATH", value.data(), needed);
  if (n == 0 || n >= needed) return std::nullopt;
  value.resize(n);
  return value;
}

// The absolute path of `candidate` when something exists there.
std::optional<std::u16string> probe_program(std::u16string_view candidate) {
  std::wstring wide(as_wide(candidate));
  std::optional<std::wstring> full = fill_wide_buffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(wide.c_str(), size, buffer, nullptr); });
  if (!full || full->empty()) return std::nullopt;
  Result<std::wstring, Failure> system = system_path(std::wstring_view(*full));
  if (!system || GetFileAttributesW(system->c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return std::u16string(as_u16(*full));
}

// The application name for CreateProcessW: the plain path while it fits the classic
// limit, the verbatim form beyond it.
std::wstring application_name(std::u16string_view located) {
  if (located.size() < MAX_PATH) return std::wstring(as_wide(located));
  Result<std::wstring, Failure> system = system_path(as_wide(located));
  return system ? *system : std::wstring(as_wide(located));
}

SECURITY_ATTRIBUTES inheritable() {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.bInheritHandle = TRUE;
  return sa;
}

Result<unique_handle, Failure> open_null_device(DWORD access) {
  SECURITY_ATTRIBUTES sa = inheritable();
  unique_handle device(CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
  if (!device) return fail(Failure::last());
  return device;
}

// A process/thread attribute list holding the handles a child may inherit.
class AttributeList {
 public:
  AttributeList() = default;
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  ~AttributeList() {
    if (initialised_) DeleteProcThreadAttributeList(get());
  }

  bool init_handle_list(HANDLE* handles, std::size_t count) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!InitializeProcThreadAttributeList(get(), 1, 0, &size)) return false;
    initialised_ = true;
    return UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                     nullptr, nullptr) != 0;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()); }

 private:
  std::vector<unsigned char> storage_;
  bool initialised_ = false;
};

// One captured stream: our end is an overlapped named pipe so that both streams can be
// read on this one thread; the child's end is an ordinary inheritable handle.
struct PipePair {
  unique_handle ours;
  unique_handle theirs;
};

constexpr DWORD kPipeBuffer = 64 * 1024;

Result<PipePair, Failure> make_output_pipe() {
  static std::atomic<unsigned> serial{0};
  PipePair pair;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::wstring name = L"\\\\.\\pipe\\quorvane-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(serial++);
    pair.ours.reset(CreateNamedPipeW(name.c_str(),
                                     PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                     kPipeBuffer, kPipeBuffer, 0, nullptr));
    if (!pair.ours) {
      // A name already taken (by anyone) is refused with access denied; try the next.
      if (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_PIPE_BUSY) continue;
      return fail(Failure::last());
    }
    SECURITY_ATTRIBUTES sa = inheritable();
    pair.theirs.reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &sa, OPEN_EXISTING, 0, nullptr));
    if (!pair.theirs) return fail(Failure::last());
    return pair;
  }
  return fail(Failure::last());
}

// Reads one pipe with overlapped calls until the writer side is gone. A read in flight
// is cancelled and waited for before the buffer it writes into goes away.
class PipeReader {
 public:
  explicit PipeReader(HANDLE pipe) : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    buffer_.resize(kPipeBuffer);
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() {
    if (pending_) {
      CancelIoEx(pipe_, &overlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &overlapped_, &ignored, TRUE);
    }
  }

  bool ready() const { return static_cast<bool>(event_); }
  bool done() const { return done_; }
  HANDLE event() const { return event_.get(); }
  std::string& data() { return data_; }

  // Starts the next read; false on a failure other than the end of the stream.
  bool start() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    ResetEvent(event_.get());
    if (ReadFile(pipe_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_)) {
      pending_ = true;  // finished at once; the event is set and the result is collected as usual
      return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      pending_ = true;
      return true;
    }
    return finish_on(error);
  }

  // Collects the finished read (its event was signalled) and starts the next one.
  bool complete() {
    DWORD got = 0;
    BOOL ok = GetOverlappedResult(pipe_, &overlapped_, &got, FALSE);
    pending_ = false;
    if (!ok) return finish_on(GetLastError());
    // Only the head of a stream reaches the reply: keep one byte beyond it, which is
    // all it takes to tell that the stream was longer, and drop the rest unread by
    // anyone. Reading goes on to the end so that the child never blocks on a full pipe.
    total_ += got;
    std::size_t room = kKeptOutput - std::min(data_.size(), kKeptOutput);
    data_.append(buffer_.data(), std::min<std::size_t>(got, room));
    return start();
  }

  DWORD error() const { return error_; }
  std::uint64_t total() const { return total_; }

 private:
  static constexpr std::size_t kKeptOutput = kMaxCapturedOutput + 1;

  bool finish_on(DWORD error) {
    done_ = true;
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return true;
    error_ = error;
    return false;
  }

  HANDLE pipe_;
  unique_handle event_;
  OVERLAPPED overlapped_{};
  std::string buffer_;
  std::string data_;
  std::uint64_t total_ = 0;
  bool pending_ = false;
  bool done_ = false;
  DWORD error_ = 0;
};

// Reads both streams to their end, whichever has data first, so that a child blocked
// on a full pipe never waits for us while we wait on the other pipe.
Result<bool, Failure> drain(PipeReader& out, PipeReader& err) {
  if (!out.ready() || !err.ready()) return fail(Failure::last());
  if (!out.start()) return fail(Failure::os(out.error()));
  if (!err.start()) return fail(Failure::os(err.error()));
  while (!out.done() || !err.done()) {
    PipeReader* readers[2];
    HANDLE events[2];
    DWORD count = 0;
    for (PipeReader* reader : {&out, &err}) {
      if (reader->done()) continue;
      readers[count] = reader;
      events[count] = reader->event();
      ++count;
    }
    DWORD which = WaitForMultipleObjects(count, events, FALSE, INFINITE);
    if (which >= WAIT_OBJECT_0 + count) return fail(Failure::last());
    PipeReader* reader = readers[which - WAIT_OBJECT_0];
    if (!reader->complete()) return fail(Failure::os(reader->error()));
  }
  return true;
}

}  // namespace

HandlerResult run_process(std::string_view, const json& params) {
  Result<std::string_view> file_name = required_string(params, "fileName");
  if (!file_name) return file_name.failure();
  std::string_view arguments = string_param(params, "arguments").value_or(std::string_view());
  bool wait = bool_param(params, "waitForExit").value_or(false);
  auto failed = [&](std::string_view detail) { return fail(run_failed(*file_name, detail)); };
  auto failed_on = [&](const Failure& failure) { return failed(failure.message()); };

  if (file_name->find('\0') != std::string_view::npos || arguments.find('\0') != std::string_view::npos) {
    return failed(kNulInString);
  }
  std::u16string name = utf8_to_utf16(*file_name);
  std::u16string args = utf8_to_utf16(arguments);
  std::wstring system_dir = system_folder();

  ProgramLookup lookup;
  lookup.probe = probe_program;
  lookup.search_folders = [&] {
    std::optional<std::wstring> own = module_folder();
    std::optional<std::wstring> path = path_variable();
    std::optional<std::u16string_view> path_view;
    if (path) path_view = as_u16(*path);
    return program_search_folders(own ? as_u16(*own) : std::u16string_view(), as_u16(system_dir),
                                  as_u16(windows_folder()), path_view);
  };
  Result<std::u16string, std::string_view> located = locate_program(name, lookup);
  if (!located) return failed(located.error());
  const std::u16string& program = *located;

  std::wstring application;
  std::wstring command_line;
  if (is_batch_script(program)) {
    Result<std::u16string, std::string_view> line = batch_command_line(program, args);
    if (!line) return failed(line.error());
    application = system_dir + L"\\cmd.exe";
    command_line = std::wstring(as_wide(*line));
  } else {
    application = application_name(program);
    command_line = std::wstring(as_wide(program_command_line(name, args)));
  }

  Result<unique_handle, Failure> child_stdin = open_null_device(GENERIC_READ);
  if (!child_stdin) return failed_on(child_stdin.error());
  unique_handle child_stdout, child_stderr, our_stdout, our_stderr;
  if (wait) {
    Result<PipePair, Failure> out = make_output_pipe();
    if (!out) return failed_on(out.error());
    Result<PipePair, Failure> err = make_output_pipe();
    if (!err) return failed_on(err.error());
    our_stdout = std::move(out->ours);
    child_stdout = std::move(out->theirs);
    our_stderr = std::move(err->ours);
    child_stderr = std::move(err->theirs);
  } else {
    Result<unique_handle, Failure> out = open_null_device(GENERIC_WRITE);
    if (!out) return failed_on(out.error());
    Result<unique_handle, Failure> err = open_null_device(GENERIC_WRITE);
    if (!err) return failed_on(err.error());
    child_stdout = std::move(*out);
    child_stderr = std::move(*err);
  }

  // Inheritance is limited to the child's three standard handles: anything else the
  // host holds as inheritable (its own standard streams, which the browser reads) must
  // not stay open in a program that may outlive the host.
  HANDLE inherited[3] = {child_stdin->get(), child_stdout.get(), child_stderr.get()};
  AttributeList attributes;
  if (!attributes.init_handle_list(inherited, 3)) return failed_on(Failure::last());
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = inherited[0];
  startup.StartupInfo.hStdOutput = inherited[1];
  startup.StartupInfo.hStdError = inherited[2];
  startup.lpAttributeList = attributes.get();
  PROCESS_INFORMATION info{};
  // The host turns the system's error dialogs off for itself; a program it starts is
  // the user's and gets the default mode, so its crash or missing DLL is reported.
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_DEFAULT_ERROR_MODE, nullptr,
                      nullptr, &startup.StartupInfo, &info)) {
    return failed_on(Failure::last());
  }
  unique_handle process(info.hProcess);
  unique_handle thread(info.hThread);
  // Our copies of the child's ends must go, or the pipes never report their end.
  child_stdin->reset();
  child_stdout.reset();
  child_stderr.reset();
  thread.reset();
  if (!wait) return unwaited_launch_result();

  std::string out_bytes, err_bytes;
  {
    PipeReader out(our_stdout.get());
    PipeReader err(our_stderr.get());
    Result<bool, Failure> drained = drain(out, err);
    if (!drained) return failed_on(drained.error());
    out_bytes = std::move(out.data());
    err_bytes = std::move(err.data());
  }
  our_stdout.reset();
  our_stderr.reset();
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return failed_on(Failure::last());
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.get(), &exit_code)) return failed_on(Failure::last());
  return waited_launch_result(exit_code, out_bytes, err_bytes);
}

}  // namespace quorvane::files
