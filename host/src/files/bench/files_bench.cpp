// Throughput of the content methods through the real host, as the browser sees them:
// read_file_range over a 1 GiB file and read_all_bytes of a 100 MiB file (time and the
// host's peak memory). Prints figures; it is a benchmark, not a test. files_bench.sh
// runs it and times cat on the same files for comparison.
//
//   files_bench [folder]      (default Z:\tmp\quorvane-files-bench)
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/json.h"
#include "common/win32_handle.h"
#include "host_process.h"
#include "main/dispatch.h"

namespace {

using quorvane::unique_handle;
using quorvane::standin::HostProcess;
using quorvane::standin::json;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1024 * 1024;

std::string narrow(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) out += static_cast<char>(c);  // ASCII paths only
  return out;
}

// Makes (or keeps) a file of `size` bytes of varied content.
bool ensure_file(const std::wstring& path, std::uint64_t size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
      ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size) {
    return true;
  }
  unique_handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!h) return false;
  std::string chunk(4 * kMiB, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 2654435761u) >> 13);
  for (std::uint64_t done = 0; done < size; done += chunk.size()) {
    DWORD n = 0;
    if (!WriteFile(h.get(), chunk.data(), static_cast<DWORD>(std::min<std::uint64_t>(chunk.size(), size - done)), &n,
                   nullptr)) {
      return false;
    }
  }
  return true;
}

std::string request(const char* method, const json& params) {
  return quorvane::to_json_text(json{{"id", 1}, {"method", method}, {"params", params}});
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void print_memory(const char* label, HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    std::printf("  %-34s peak working set %7.1f MiB, peak commit %7.1f MiB\n", label,
                counters.PeakWorkingSetSize / double(kMiB), counters.PeakPagefileUsage / double(kMiB));
  } else {
    std::printf("  %-34s (memory counters unavailable: error %lu)\n", label, GetLastError());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring folder = L"Z:\\tmp\\quorvane-files-bench";
  if (argc > 1) folder.assign(argv[1], argv[1] + std::strlen(argv[1]));
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring big = folder + L"\\range-1g.bin";
  const std::wstring whole = folder + L"\\whole-100m.bin";
  const std::uint64_t big_size = 1024 * kMiB;
  const std::uint64_t whole_size = 100 * kMiB;
  if (!ensure_file(big, big_size) || !ensure_file(whole, whole_size)) {
    std::fprintf(stderr, "cannot create the test files in %ls\n", folder.c_str());
    return 1;
  }

  // The handlers alone, called in this process: what the host spends apart from the
  // JSON text and the pipe.
  {
    std::uint64_t start = 0, requests = 0;
    auto t0 = Clock::now();
    for (;;) {
      quorvane::HandlerResult r =
          quorvane::call_method("read_file_range", json{{"path", narrow(big)}, {"rangeStart", start}});
      ++requests;
      if (!r.ok() || r.value()["buffer"].get_ref<const std::string&>().empty()) break;
      start = r.value()["rangeEnd"].get<std::uint64_t>();
    }
    double s = seconds_since(t0);
    std::printf("in-process read_file_range handler, 1 GiB in %llu calls: %.2f s, %.0f MiB/s\n",
                static_cast<unsigned long long>(requests), s, big_size / double(kMiB) / s);
    t0 = Clock::now();
    quorvane::HandlerResult r = quorvane::call_method("read_all_bytes", json{{"path", narrow(whole)}});
    s = seconds_since(t0);
    std::printf("in-process read_all_bytes handler, 100 MiB: %.2f s, %.0f MiB/s\n", s, whole_size / double(kMiB) / s);
  }

  HostProcess host;
  print_memory("host after start", host.process_handle());

  // Per-request cost without file data, to tell the transport from the reading.
  for (const char* method : {"get_max_file_range", "read_file_range"}) {
    const int n = 300;
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
      if (!host.send_frame(request(method, json{{"path", narrow(big)}, {"rangeStart", big_size}})) ||
          !host.read_frame()) {
        return 1;
      }
    }
    std::printf("%s with no data: %.3f ms per request\n", method, seconds_since(t0) * 1000 / n);
  }

  // read_file_range from 0 to the end, one request per range, as a client loops.
  for (int round = 0; round < 2; ++round) {
    std::uint64_t start = 0, requests = 0, reply_bytes = 0;
    auto t0 = Clock::now();
    for (;;) {
      if (!host.send_frame(request("read_file_range", json{{"path", narrow(big)}, {"rangeStart", start}}))) return 1;
      std::optional<std::string> reply = host.read_frame();
      if (!reply) return 1;
      ++requests;
      reply_bytes += reply->size();
      if (reply->find("\"buffer\":\"\"") != std::string::npos) break;
      start += std::min<std::uint64_t>(524288, big_size - start);
    }
    double s = seconds_since(t0);
    if (start != big_size) {
      std::fprintf(stderr, "ranges ended at %llu\n", static_cast<unsigned long long>(start));
      return 1;
    }
    std::printf(
        "read_file_range, 1 GiB in %llu requests (%s): %.2f s, %.0f MiB/s of file data, %.0f MiB/s of replies\n",
        static_cast<unsigned long long>(requests), round == 0 ? "first pass" : "second pass", s,
        big_size / double(kMiB) / s, reply_bytes / double(kMiB) / s);
  }
  print_memory("host after the ranges", host.process_handle());

  HostProcess fresh;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    if (!fresh.send_frame(request("read_all_bytes", json{{"path", narrow(whole)}}))) return 1;
    std::optional<std::string> reply = fresh.read_frame(600000);
    double s = seconds_since(t0);
    if (!reply || reply->find("\"errorCode\":0") == std::string::npos) {
      std::fprintf(stderr, "read_all_bytes failed\n");
      return 1;
    }
    std::printf("read_all_bytes, 100 MiB: %.2f s (reply of %.1f MiB, %.0f MiB/s of file data)\n", s,
                reply->size() / double(kMiB), whole_size / double(kMiB) / s);
  }
  print_memory("host after read_all_bytes", fresh.process_handle());
  return 0;
}
