// Round trip of a screen-sized request through the real host, against a do-nothing
// program with the same framing. Prints figures; it is a benchmark, not a test.
//
//   roundtrip_bench [iterations]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/json.h"
#include "host_process.h"

namespace {

using quorvane::standin::HostProcess;

std::wstring beside_me(const wchar_t* name) {
  std::wstring host = quorvane::standin::default_host_path();
  return host.substr(0, host.find_last_of(L"\\/") + 1) + name;
}

struct Times {
  double median;
  double fastest;
  double cpu;  // the program's own processor time per round trip (user and kernel)
};

double cpu_ms(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0.0;
  const auto ticks = [](FILETIME t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
}

// The median and the fastest round trip: on a busy machine the fastest shows what the
// code costs, the median what the machine let it have.
Times time_ms(HostProcess& process, const std::string& request, int iterations) {
  std::vector<double> times;
  const double cpu_before = cpu_ms(process.process_handle());
  for (int i = 0; i < iterations; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (!process.send_frame(request) || !process.read_frame()) {
      std::fprintf(stderr, "no reply\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  const double cpu = (cpu_ms(process.process_handle()) - cpu_before) / iterations;
  return {times[times.size() / 2], times.front(), cpu};
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = argc > 1 ? std::atoi(argv[1]) : 15;
  // 1920 x 1080 raw RGB as Base64: 8,294,400 characters.
  std::string data(1920 * 1080 * 4, 'Q');
  std::string request =
      quorvane::to_json_text({{"id", 1},
                              {"method", "get_version"},
                              {"params", {{"image", {{"data", data}, {"width", 1920}, {"height", 1080}}}}}});

  HostProcess null_host(beside_me(L"null-host.exe"));
  HostProcess host;
  const Times baseline = time_ms(null_host, request, iterations);
  const Times ours = time_ms(host, request, iterations);
  std::printf("request of %zu bytes, %d round trips: median, fastest, the program's processor time\n", request.size(),
              iterations);
  std::printf("  do-nothing host  %8.2f ms  %8.2f ms  %8.2f ms\n", baseline.median, baseline.fastest, baseline.cpu);
  std::printf("  quorvane-host    %8.2f ms  %8.2f ms  %8.2f ms   (%.2fx, %.2fx)\n", ours.median, ours.fastest, ours.cpu,
              ours.median / baseline.median, ours.fastest / baseline.fastest);
  return 0;
}
