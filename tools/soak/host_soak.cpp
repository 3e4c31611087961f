// Soak of the real host: one host process serves a long run of mixed requests, cheap and
// expensive, as an extension sends them (version and display queries, captures, searches
// in small images and in a corner of the screen, file reads and writes in a folder of its
// own, harmless key taps and pointer moves, now and then a short program). Every --every
// requests it prints the host's handles, GDI and USER objects and memory, read from
// outside; at the end the median and 99th percentile time of each method.
//
//   host_soak [--requests N] [--every K] [--check]
//
// With --check it fails when a reply is missing or malformed, a request fails that must
// not, or the counters grew beyond a generous bound between the end of the first K
// requests (the warm-up) and the end.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/base64.h"
#include "cv/tests/process_counters_win32.h"
#include "host_process.h"

namespace {

using quorvane::standin::HostProcess;
using quorvane::standin::json;
using quorvane::testing::ProcessCounters;
using quorvane::testing::read_counters;
namespace fs = std::filesystem;

// Growth allowed after the warm-up. A leak of one object per request of some kind shows
// up far above these within a few hundred requests; a heap that settles stays below.
constexpr long kHandleSlack = 64;
constexpr long kGdiSlack = 32;
constexpr long kUserSlack = 32;
constexpr double kMemorySlackMiB = 96;

std::string utf8(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// Pseudo-random RGB noise, the same every run.
std::string noise(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  std::string rgb(static_cast<std::size_t>(width) * height * 3, '\0');
  for (char& c : rgb) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return rgb;
}

std::string cut(const std::string& rgb, std::uint32_t width, std::uint32_t x, std::uint32_t y, std::uint32_t w,
                std::uint32_t h) {
  std::string out;
  for (std::uint32_t row = 0; row < h; ++row)
    out.append(rgb, ((y + row) * width + x) * 3, static_cast<std::size_t>(w) * 3);
  return out;
}

struct Operation {
  const char* method;
  int weight;
  std::function<json(int)> params;
  bool may_fail = false;  // answers with an error on a machine without the service
};

void print_counters(int done, const ProcessCounters& c, double seconds) {
  std::printf("%7d requests  handles %5lu  gdi %4lu  user %4lu  working set %7.1f MiB  private %7.1f MiB  %7.1f s\n",
              done, static_cast<unsigned long>(c.handles), static_cast<unsigned long>(c.gdi),
              static_cast<unsigned long>(c.user), c.working_set / 1048576.0, c.private_bytes / 1048576.0, seconds);
  std::fflush(stdout);
}

// The counters must see objects come and go, or a flat line would prove nothing.
bool counters_work() {
  const ProcessCounters before = read_counters(GetCurrentProcess());
  std::vector<HANDLE> events;
  std::vector<HBITMAP> bitmaps;
  HDC screen = GetDC(nullptr);
  for (int i = 0; i < 5; ++i) {
    events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bitmaps.push_back(CreateCompatibleBitmap(screen, 8, 8));
  }
  const ProcessCounters during = read_counters(GetCurrentProcess());
  for (HANDLE e : events) CloseHandle(e);
  for (HBITMAP b : bitmaps) DeleteObject(b);
  ReleaseDC(nullptr, screen);
  const long handles = static_cast<long>(during.handles) - static_cast<long>(before.handles);
  const long gdi = static_cast<long>(during.gdi) - static_cast<long>(before.gdi);
  std::printf("counter check: 5 events and 5 bitmaps show as %+ld handles, %+ld GDI objects\n", handles, gdi);
  return handles >= 5 && gdi >= 5;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 10000;
  int every = 1000;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--requests") == 0 && i + 1 < argc)
      requests = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--every") == 0 && i + 1 < argc)
      every = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--check") == 0)
      check = true;
  }
  every = std::min(every, requests);
  std::vector<std::string> failures;
  if (!counters_work()) failures.push_back("the counters do not see handles and GDI objects of a process");

  const fs::path folder = fs::temp_directory_path() / ("quorvane-soak-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(folder);
  fs::create_directories(folder / "files");
  const std::string dir = utf8(folder / "files");
  const std::string text_file = utf8(folder / "files" / "notes.txt");
  const std::string bytes_file = utf8(folder / "files" / "data.bin");
  const std::string capture_file = utf8(folder / "capture.png");

  // search_image: a 64x48 picture and a 12x12 piece of it; the screen searches look in the
  // screen's top-left corner for a piece of noise that is not there.
  const std::string picture = noise(64, 48, 7);
  const json image = {{"data", quorvane::base64_encode(picture)}, {"width", 64}, {"height", 48}};
  const json piece = {
      {"data", quorvane::base64_encode(cut(picture, 64, 30, 20, 12, 12))}, {"width", 12}, {"height", 12}};
  const json absent = {{"data", quorvane::base64_encode(noise(12, 12, 99))}, {"width", 12}, {"height", 12}};
  const json corner = {{"x", 0}, {"y", 0}, {"width", 240}, {"height", 160}};
  const json screen_options = {{"limitSearchArea", true}, {"searchArea", corner}};
  const std::string tiny_png =
      "iVBORw0KGgoAAAANSUhEUgAAAAMAAAACCAIAAAASFvFNAAAACXBIWXMAAA7EAAAOxAGVKw4bAAAAFElEQVR4nGP438DAEPAfRP5vgCIAWwQIy+"
      "EVt3cAAAAASUVORK5CYII=";

  const std::vector<Operation> operations = {
      {"get_version", 10, [](int) { return json::object(); }},
      {"get_display_list", 4, [](int) { return json::object(); }},
      {"get_desktop_dpi", 3, [](int) { return json::object(); }},
      {"get_active_browser_window_rect", 3, [](int) { return json::object(); }},
      {"capture_desktop", 4,
       [&](int) {
         return json{{"path", capture_file}};
       }},
      {"get_image_info", 3,
       [&](int) {
         return json{{"content", tiny_png}};
       }},
      {"search_image", 10,
       [&](int) {
         return json{{"image", image}, {"pattern", piece}};
       }},
      {"search_desktop", 5,
       [&](int) {
         return json{{"pattern", absent}, {"options", screen_options}};
       }},
      {"wait_for_image", 3,
       [&](int) {
         return json{{"pattern", absent}, {"options", screen_options}, {"timeoutMs", 0}};
       }},
      {"find_color_regions", 3,
       [&](int) {
         return json{{"color", "ff0000"}, {"searchArea", corner}};
       }},
      {"file_exists", 6,
       [&](int) {
         return json{{"path", text_file}};
       }},
      {"get_files", 4,
       [&](int) {
         return json{{"path", dir}};
       }},
      {"get_file_system_entry_info", 3,
       [&](int) {
         return json{{"path", dir}};
       }},
      {"write_all_text", 6,
       [&](int i) {
         return json{{"path", text_file}, {"content", "line " + std::to_string(i) + "\n"}};
       }},
      {"append_all_text", 3,
       [&](int i) {
         return json{{"path", text_file}, {"content", std::to_string(i) + "\n"}};
       }},
      {"read_all_text", 6,
       [&](int) {
         return json{{"path", text_file}};
       }},
      {"read_file_range", 3,
       [&](int) {
         return json{{"path", text_file}, {"rangeStart", 2}};
       }},
      {"write_all_bytes", 3,
       [&](int) {
         return json{{"path", bytes_file}, {"content", "AAEC/w=="}};
       }},
      {"read_all_bytes", 3,
       [&](int) {
         return json{{"path", bytes_file}};
       }},
      {"copy_file", 2,
       [&](int) {
         return json{{"sourcePath", text_file}, {"targetPath", dir + "\\copy.txt"}};
       }},
      {"move_file", 2,
       [&](int) {
         return json{{"sourcePath", dir + "\\copy.txt"}, {"targetPath", dir + "\\moved.txt"}};
       }},
      {"delete_file", 2,
       [&](int) {
         return json{{"path", dir + "\\moved.txt"}};
       }},
      {"create_directory", 1,
       [&](int) {
         return json{{"path", dir + "\\sub\\deeper"}};
       }},
      {"remove_directory", 1,
       [&](int) {
         return json{{"path", dir + "\\sub"}};
       }},
      // A lone Shift tap and pointer moves: input that changes nothing on the desktop.
      {"send_text", 3,
       [](int) {
         return json{{"text", "${KEY_SHIFT}"}};
       }},
      {"send_mouse_event", 3,
       [](int i) {
         return json{{"type", 0}, {"button", 0}, {"x", 100 + i % 600}, {"y", 100 + (i * 7) % 400}};
       }},
      {"run_process", 1,
       [](int) {
         return json{{"fileName", "cmd.exe"}, {"arguments", "/c echo soak"}, {"waitForExit", true}};
       }},
      {"ocr_language_list", 1, [](int) { return json::object(); }, true},
  };
  // A fixed order that spreads each method over the run.
  std::vector<const Operation*> slots;
  for (const Operation& op : operations)
    for (int w = 0; w < op.weight; ++w) slots.push_back(&op);
  std::vector<const Operation*> order(slots.size());
  for (std::size_t i = 0; i < slots.size(); ++i) order[(i * 37) % slots.size()] = slots[i];

  std::printf("%d requests, counters every %d, %zu methods in a cycle of %zu\n", requests, every, operations.size(),
              order.size());
  std::map<std::string, std::vector<double>> times;
  ProcessCounters warm{};
  ProcessCounters last{};
  const auto started = std::chrono::steady_clock::now();
  const auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  std::optional<HostProcess> host;
  try {
    host.emplace();
    print_counters(0, read_counters(host->process_handle()), seconds());
    for (int i = 0; i < requests; ++i) {
      const Operation& op = *order[static_cast<std::size_t>(i) % order.size()];
      const auto t0 = std::chrono::steady_clock::now();
      json reply = host->call(op.method, op.params(i), i + 1);
      times[op.method].push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      const bool answered = reply.is_object() && reply.value("id", json()) == json(i + 1);
      if (!answered || (!reply.contains("result") && !op.may_fail)) {
        failures.push_back(std::string(op.method) + ": " + reply.dump().substr(0, 300));
        if (failures.size() > 20) break;
      }
      if ((i + 1) % every == 0 || i + 1 == requests) {
        last = read_counters(host->process_handle());
        print_counters(i + 1, last, seconds());
        if (i + 1 == every) warm = last;
      }
    }
    host->close_input();
  } catch (const std::exception& e) {
    failures.push_back(std::string("the host stopped answering: ") + e.what());
  }
  if (host) {
    std::optional<DWORD> status = host->wait_exit(15000);
    if (!status || *status != 0)
      failures.push_back("the host did not end with status 0: " + (status ? std::to_string(*status) : "still running") +
                         " " + host->error_output().substr(0, 500));
  }
  fs::remove_all(folder);

  std::printf("\n%-32s %6s %9s %9s %9s\n", "method", "count", "p50 ms", "p99 ms", "max ms");
  for (const auto& [method, t] : times)
    std::printf("%-32s %6zu %9.2f %9.2f %9.2f\n", method.c_str(), t.size(), percentile(t, 0.5), percentile(t, 0.99),
                *std::max_element(t.begin(), t.end()));

  const long handles = static_cast<long>(last.handles) - static_cast<long>(warm.handles);
  const long gdi = static_cast<long>(last.gdi) - static_cast<long>(warm.gdi);
  const long user = static_cast<long>(last.user) - static_cast<long>(warm.user);
  const double memory = (static_cast<double>(last.working_set) - static_cast<double>(warm.working_set)) / 1048576.0;
  std::printf("\nafter the warm-up of %d requests: handles %+ld, gdi %+ld, user %+ld, working set %+.1f MiB\n", every,
              handles, gdi, user, memory);
  if (check && requests > every) {
    if (handles > kHandleSlack) failures.push_back("handles grew by " + std::to_string(handles));
    if (gdi > kGdiSlack) failures.push_back("GDI objects grew by " + std::to_string(gdi));
    if (user > kUserSlack) failures.push_back("USER objects grew by " + std::to_string(user));
    if (memory > kMemorySlackMiB) failures.push_back("the working set grew by " + std::to_string(memory) + " MiB");
  }
  for (const std::string& f : failures) std::printf("FAIL: %s\n", f.c_str());
  return check && !failures.empty() ? 1 : 0;
}
