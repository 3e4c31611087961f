#include "host_process.h"

#include <chrono>
#include <stdexcept>
#include <vector>

#include "common/json.h"
#include "common/write_all_win32.h"

namespace quorvane::standin {

std::wstring default_host_path() {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), n);
  std::size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"quorvane-host.exe";
}

namespace {

void make_pipe(unique_handle& read_end, unique_handle& write_end, bool child_reads) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &sa, 1 << 16)) throw std::runtime_error("CreatePipe failed");
  read_end.reset(read);
  write_end.reset(write);
  // Only the child's end is inherited.
  SetHandleInformation(child_reads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

HostProcess::HostProcess(const std::wstring& exe_path) {
  unique_handle child_in, child_out, child_err;
  make_pipe(child_in, stdin_write_, true);
  make_pipe(stdout_read_, child_out, false);
  make_pipe(stderr_read_, child_err, false);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = child_in.get();
  si.hStdOutput = child_out.get();
  si.hStdError = child_err.get();
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + exe_path + L"\"";
  BOOL started =
      CreateProcessW(exe_path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  const DWORD start_error = GetLastError();
  // The child holds its own copies now; ours would keep the pipes open after it ends.
  child_in.reset();
  child_out.reset();
  child_err.reset();
  if (!started) throw std::runtime_error("cannot start the host (error " + std::to_string(start_error) + ")");
  CloseHandle(pi.hThread);  // only the process is waited on
  process_.reset(pi.hProcess);
  pid_ = pi.dwProcessId;
  stdout_thread_ = std::thread([this] { pump(stdout_read_.get(), stdout_bytes_); });
  stderr_thread_ = std::thread([this] { pump(stderr_read_.get(), stderr_bytes_); });
}

HostProcess::~HostProcess() {
  close_input();
  if (!wait_exit(10000)) TerminateProcess(process_.get(), 1);
  WaitForSingleObject(process_.get(), INFINITE);
  stopping_ = true;
  stdout_thread_.join();
  stderr_thread_.join();
}

void HostProcess::pump(HANDLE pipe, std::string& sink) {
  // Polls instead of blocking in ReadFile: a process the host started may inherit the
  // write end and outlive the host, and a reader blocked on such a pipe could never be
  // joined. Once the host is gone and the pipe is empty, the destructor's stop flag ends
  // the loop whoever still holds the other end.
  std::vector<char> buffer(1 << 16);
  const bool is_stdout = &sink == &stdout_bytes_;
  std::size_t taken = 0;
  for (;;) {
    const std::size_t limit = is_stdout ? output_limit_.load() : static_cast<std::size_t>(-1);
    if (taken >= limit) {
      // The reader goes away: the host's next write to the pipe fails.
      stdout_read_.reset();
      break;
    }
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) break;  // every writer is gone
    if (available == 0) {
      if (stopping_.load()) break;
      Sleep(1);
      continue;
    }
    DWORD got = 0;
    DWORD want = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
    if (limit - taken < want) want = static_cast<DWORD>(limit - taken);
    if (!ReadFile(pipe, buffer.data(), want, &got, nullptr) || got == 0) break;
    taken += got;
    std::lock_guard lock(mutex_);
    sink.append(buffer.data(), got);
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  if (is_stdout) stdout_closed_ = true;
  changed_.notify_all();
}

bool HostProcess::send_raw(std::string_view bytes) { return stdin_write_ && write_all(stdin_write_.get(), bytes); }

std::string frame_header(std::uint32_t payload_size) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((payload_size >> (8 * i)) & 0xFF);
  return out;
}

bool HostProcess::send_frame(std::string_view payload) {
  return send_raw(frame_header(static_cast<std::uint32_t>(payload.size()))) && send_raw(payload);
}

std::optional<std::string> HostProcess::read_frame(DWORD timeout_ms) {
  std::unique_lock lock(mutex_);
  auto complete = [&] {
    if (stdout_bytes_.size() < 4) return false;
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(stdout_bytes_[i]);
    return stdout_bytes_.size() >= 4 + static_cast<std::size_t>(n);
  };
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return complete() || stdout_closed_; });
  if (!complete()) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(stdout_bytes_[i]);
  std::string payload = stdout_bytes_.substr(4, n);
  stdout_bytes_.erase(0, 4 + static_cast<std::size_t>(n));
  return payload;
}

json HostProcess::request(const json& request_value) {
  if (!send_frame(to_json_text(request_value))) throw std::runtime_error("cannot write to the host");
  std::optional<std::string> reply = read_frame();
  if (!reply) throw std::runtime_error("no reply from the host");
  json parsed;
  if (!parse_json(*reply, parsed)) throw std::runtime_error("malformed reply: " + reply->substr(0, 200));
  return parsed;
}

json HostProcess::call(std::string_view method, const json& params, const json& id) {
  return request(json{{"id", id}, {"method", std::string(method)}, {"params", params}});
}

std::size_t HostProcess::pending_output_bytes() {
  std::lock_guard lock(mutex_);
  return stdout_bytes_.size();
}

void HostProcess::close_input() { stdin_write_.reset(); }

void HostProcess::abandon_output_after(std::size_t bytes) { output_limit_ = bytes; }

std::optional<DWORD> HostProcess::wait_exit(DWORD timeout_ms) {
  if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

std::string HostProcess::error_output() {
  std::lock_guard lock(mutex_);
  return stderr_bytes_;
}

}  // namespace quorvane::standin
