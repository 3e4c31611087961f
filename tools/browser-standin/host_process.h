// Plays the browser's side of native messaging: starts quorvane-host.exe as a child with
// pipes for its standard streams and exchanges frames with it. Used by the end-to-end
// tests and by the command-line client.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "common/win32_handle.h"

namespace quorvane::standin {

using json = nlohmann::json;

// The 4-byte little-endian payload length that starts every frame.
std::string frame_header(std::uint32_t payload_size);

// quorvane-host.exe beside the running program (tests and tools share one bin folder).
std::wstring default_host_path();

class HostProcess {
 public:
  explicit HostProcess(const std::wstring& exe_path = default_host_path());
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Sends the 4-byte little-endian length and the payload.
  bool send_frame(std::string_view payload);
  // Sends arbitrary bytes (for malformed frames).
  bool send_raw(std::string_view bytes);
  // The next reply payload; nullopt when the host closed its output or none came in time.
  std::optional<std::string> read_frame(DWORD timeout_ms = 60000);

  // Sends {"id":id,"method":method,"params":params} and returns the parsed reply.
  // Throws std::runtime_error when no well-formed reply arrives.
  json call(std::string_view method, const json& params = json::object(), const json& id = 1);
  json request(const json& request_value);

  // Everything the host wrote to standard output that was not yet taken as frames.
  std::size_t pending_output_bytes();
  void close_input();
  // Makes the reader of the host's standard output go away: once `bytes` bytes in all
  // have been taken from the pipe (counting those already taken), nothing more is read
  // and the read end is closed, as when the browser drops a port in the middle of a reply.
  void abandon_output_after(std::size_t bytes);
  // The exit status once the host has ended within the time-out.
  std::optional<DWORD> wait_exit(DWORD timeout_ms = 10000);
  // What the host wrote to standard error so far.
  std::string error_output();
  DWORD pid() const { return pid_; }
  HANDLE process_handle() const { return process_.get(); }

 private:
  void pump(HANDLE pipe, std::string& sink);

  unique_handle process_;
  DWORD pid_ = 0;
  unique_handle stdin_write_;
  unique_handle stdout_read_;
  unique_handle stderr_read_;
  std::thread stdout_thread_;
  std::thread stderr_thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string stdout_bytes_;
  std::string stderr_bytes_;
  bool stdout_closed_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> output_limit_{static_cast<std::size_t>(-1)};
};

}  // namespace quorvane::standin
