// What a waited run_process costs the host when the child writes far more than the reply
// carries: time and the host's peak memory. Prints figures; a benchmark, not a test.
//
//   run_process_bench [megabytes]      (default 300; the child writes them to stdout)
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_process.h"

namespace {

using quorvane::standin::HostProcess;
using quorvane::standin::json;

constexpr double kMiB = 1024.0 * 1024.0;

void print_memory(const char* label, HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    std::printf("  %-30s peak working set %7.1f MiB, peak commit %7.1f MiB\n", label,
                counters.PeakWorkingSetSize / kMiB, counters.PeakPagefileUsage / kMiB);
  } else {
    std::printf("  %-30s (memory counters unavailable: error %lu)\n", label, GetLastError());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long long megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300;
  HostProcess host;
  print_memory("host after start", host.process_handle());
  const std::string child = std::string(QUORVANE_BIN_DIR) + "/files_test_child.exe";
  const std::string arguments = "out " + std::to_string(megabytes * 1000000) + " err 1000";
  auto t0 = std::chrono::steady_clock::now();
  json reply = host.call("run_process", json{{"fileName", child}, {"arguments", arguments}, {"waitForExit", true}});
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!reply.contains("result")) {
    std::fprintf(stderr, "run_process failed: %s\n", reply.dump().c_str());
    return 1;
  }
  const json& result = reply["result"];
  std::printf("child wrote %llu MB to stdout: %.2f s, reply stdout %zu bytes, outputTruncated %s\n", megabytes, seconds,
              result["stdout"].get_ref<const std::string&>().size(), result["outputTruncated"].dump().c_str());
  print_memory("host after run_process", host.process_handle());
  host.close_input();
  host.wait_exit(20000);
  return 0;
}
