// Throughput of the paths a screen-sized image takes through the host: parsing a request
// that carries it as Base64, decoding that Base64, encoding bytes back to Base64, writing
// a reply that carries it, and memcpy of the same amount as the yardstick. Every figure is
// per byte of Base64 text (1920x1080 RGB: 8.3 MB; 3840x2160: 33 MB) and printed as GB/s.
//
// "warm": large blocks come back from the allocator already mapped (mmap disabled, no
// trimming), which is what a long-running host sees for sizes it has handled before.
// "cold": every large block is a fresh mapping, so each page is faulted in on first
// touch, which is what Windows' heap does for blocks this large. The difference between
// the two is the page-fault cost, which no code change here can remove except by
// touching less fresh memory.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/base64.h"
#include "common/json.h"

namespace {

using quorvane::json;

struct Screen {
  int width, height;
};
constexpr Screen kScreens[] = {{1920, 1080}, {3840, 2160}};

struct Data {
  std::vector<std::uint8_t> raw;
  std::string base64;
  std::string request;
  json reply;
  json text_reply;  // as large as the Base64, but mostly non-ASCII text (read_all_text of a letter)
};

const Data& data_for(int screen) {
  static Data cache[2];
  Data& d = cache[screen];
  if (d.raw.empty()) {
    const Screen s = kScreens[screen];
    d.raw.resize(static_cast<std::size_t>(s.width) * s.height * 3);
    std::mt19937 rng(42);
    for (auto& b : d.raw) b = static_cast<std::uint8_t>(rng());
    d.base64 = quorvane::base64_encode(d.raw.data(), d.raw.size());
    d.request = R"({"id":1,"method":"search_image","params":{"image":{"data":")" + d.base64 + R"(","width":)" +
                std::to_string(s.width) + R"(,"height":)" + std::to_string(s.height) + "}}}";
    d.reply = {{"id", 1}, {"result", {{"content", d.base64}, {"errorCode", 0}}}};
    std::string text;
    while (text.size() < d.base64.size())
      text += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xE4\xB8\x96\xE7\x95\x8C! line 42\xF0\x9F\x98\x80\n";
    d.text_reply = {{"id", 1}, {"result", text}};
  }
  return d;
}

void set_memory_mode(benchmark::State& state) {
  const bool cold = state.range(1) != 0;
  if (cold) {
    // Fixed thresholds (no dynamic adjustment): large blocks are always fresh mappings
    // and are unmapped when freed; whatever the heap still holds is given back first.
    mallopt(M_MMAP_MAX, 1 << 20);
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    malloc_trim(0);
  } else {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
  state.SetLabel(std::string(cold ? "cold " : "warm ") + (state.range(0) == 0 ? "1920x1080" : "3840x2160"));
}

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Call right before the timed loop; the destructor adds the counters after it.
class Report {
 public:
  Report(benchmark::State& state, std::size_t bytes) : state_(state), bytes_(bytes), faults_(minor_faults()) {}
  ~Report() {
    state_.counters["GB/s"] =
        benchmark::Counter(static_cast<double>(bytes_) / 1e9, benchmark::Counter::kIsIterationInvariantRate);
    state_.counters["MB"] = static_cast<double>(bytes_) / 1e6;
    // Page faults per iteration show whether the memory mode did what it says.
    state_.counters["faults"] =
        benchmark::Counter(static_cast<double>(minor_faults() - faults_), benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& state_;
  std::size_t bytes_;
  long faults_;
};

void BM_ParseRequest(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  {
    json warmup;
    if (!quorvane::parse_json(d.request, warmup)) state.SkipWithError("parse failed");
  }
  const Report report(state, d.request.size());
  for (auto _ : state) {
    json value;
    const bool ok = quorvane::parse_json(d.request, value);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(value);
  }
}

void BM_WriteReply(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  std::size_t size = 0;
  {
    std::string warmup;
    quorvane::write_json(d.reply, warmup);
    size = warmup.size();
  }
  const Report report(state, size);
  for (auto _ : state) {
    std::string out;
    quorvane::write_json(d.reply, out);
    benchmark::DoNotOptimize(out.data());
  }
}

// Writing a reply that is mostly multi-byte UTF-8 text, which the writer checks byte by
// byte rather than in vector blocks.
void BM_WriteTextReply(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  std::size_t size = 0;
  {
    std::string warmup;
    quorvane::write_json(d.text_reply, warmup);
    size = warmup.size();
  }
  const Report report(state, size);
  for (auto _ : state) {
    std::string out;
    quorvane::write_json(d.text_reply, out);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Base64Decode(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  {
    std::vector<std::uint8_t> warmup;
    if (!quorvane::base64_decode(d.base64, warmup).ok() || warmup != d.raw) state.SkipWithError("decode failed");
  }
  const Report report(state, d.base64.size());
  for (auto _ : state) {
    std::vector<std::uint8_t> out;
    const bool decoded = quorvane::base64_decode(d.base64, out).ok();
    benchmark::DoNotOptimize(decoded);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Base64Encode(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  const Report report(state, d.base64.size());
  for (auto _ : state) {
    std::string out = quorvane::base64_encode(d.raw.data(), d.raw.size());
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Memcpy(benchmark::State& state) {
  const Data& d = data_for(static_cast<int>(state.range(0)));
  set_memory_mode(state);
  const std::size_t n = d.base64.size();
  {
    std::unique_ptr<char[]> warmup(new char[n]);
    std::memcpy(warmup.get(), d.base64.data(), n);
    benchmark::DoNotOptimize(warmup.get());
  }
  const Report report(state, n);
  for (auto _ : state) {
    std::unique_ptr<char[]> out(new char[n]);
    std::memcpy(out.get(), d.base64.data(), n);
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Cold runs first: once the warm runs have let the heap grow, glibc would serve large
  // blocks from its free lists instead of fresh mappings. Each run's "faults" counter
  // confirms which kind of memory it got.
  const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
      {"BM_ParseRequest", BM_ParseRequest},     {"BM_WriteReply", BM_WriteReply},
      {"BM_WriteTextReply", BM_WriteTextReply}, {"BM_Base64Decode", BM_Base64Decode},
      {"BM_Base64Encode", BM_Base64Encode},     {"BM_Memcpy", BM_Memcpy},
  };
  for (int cold : {1, 0})
    for (const auto& [name, fn] : benchmarks)
      for (int screen : {0, 1})
        benchmark::RegisterBenchmark(name, fn)->Args({screen, cold})->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
