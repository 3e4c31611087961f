// The portable half of run_process: PATH splitting, program lookup, both command-line
// forms and the captured-output result. The input is split at its first zero byte pair
// into a program name and an arguments/PATH text, both read as UTF-16.
#include <cstring>
#include <set>

#include "common/utf.h"
#include "files/launch.h"
#include "files/long_path.h"
#include "fuzz_support.h"

using namespace quorvane;
using namespace quorvane::files;

namespace {

bool contains(std::u16string_view text, std::u16string_view part) { return text.find(part) != text.npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  const std::size_t split = std::min(units.find(u'\0'), units.size());
  const std::u16string_view name = std::u16string_view(units).substr(0, split);
  const std::u16string_view rest = split < units.size() ? std::u16string_view(units).substr(split + 1) : u"";

  // PATH entries: never empty, never with the quotes that protected them, and no longer
  // together than the value they came from.
  const std::vector<std::u16string> entries = split_path_variable(rest);
  std::size_t total = 0;
  for (const std::u16string& entry : entries) {
    FUZZ_CHECK(!entry.empty() && !contains(entry, u"\""));
    total += entry.size();
  }
  FUZZ_CHECK(total <= rest.size());
  const std::vector<std::u16string> folders = program_search_folders(u"C:\\own", u"C:\\sys", u"C:\\win", rest);
  FUZZ_CHECK(folders.size() == entries.size() + 3);

  const std::u16string candidate = program_candidate_name(name);
  FUZZ_CHECK(candidate == name || (!contains(name, u".") && candidate == std::u16string(name) + u".exe"));

  // Lookup with a file system that holds exactly the paths of the odd-length entries.
  std::set<std::u16string> existing;
  for (const std::u16string& entry : entries)
    if (entry.size() % 2 == 1) existing.insert(join_path(entry, candidate));
  std::size_t probes = 0;
  ProgramLookup lookup{[&](std::u16string_view path) -> std::optional<std::u16string> {
                         ++probes;
                         if (existing.count(std::u16string(path))) return std::u16string(path);
                         return std::nullopt;
                       },
                       [&] { return entries; }};
  const Result<std::u16string, std::string_view> located = locate_program(name, lookup);
  if (located) {
    FUZZ_CHECK(!located->empty());
    FUZZ_CHECK(ends_with_ascii_ci(*located, u".exe") || contains(*located, name));
  } else {
    FUZZ_CHECK(!located.error().empty());
  }
  FUZZ_CHECK(probes <= entries.size() + 1);

  const std::u16string line = program_command_line(name, rest);
  FUZZ_CHECK(line == u"\"" + std::u16string(name) + u"\"" + (rest.empty() ? u"" : u" " + std::u16string(rest)));

  const Result<std::u16string, std::string_view> batch = batch_command_line(name, rest);
  if (batch) {
    FUZZ_CHECK(!contains(name, u"\"") && (name.empty() || name.back() != u'\\'));
    FUZZ_CHECK(contains(*batch, u"\"\"" + std::u16string(name) + u"\""));
    FUZZ_CHECK(batch->back() == u'"');
  } else {
    FUZZ_CHECK(contains(name, u"\"") || name.back() == u'\\');
  }

  // Captured output: the input split in two as stdout and stderr. (Streams past the
  // 400 KB cut are left to the unit tests: sanitising that much per run would make every
  // run of the campaign slow.)
  const std::string_view bytes = fuzz::as_text(data, size);
  const std::string_view out_bytes = bytes.substr(0, size / 2);
  const std::string_view err_bytes = bytes.substr(size / 2);
  const json result = waited_launch_result(size > 0 ? data[0] * 0x01010101u : 0, out_bytes, err_bytes);
  FUZZ_CHECK(!result["outputTruncated"].get<bool>());
  for (const char* stream : {"stdout", "stderr"}) {
    const std::string& text = result[stream].get_ref<const std::string&>();
    FUZZ_CHECK(is_valid_utf8(text));
  }
  FUZZ_CHECK(result["stdout"] == sanitize_utf8(out_bytes) && result["stderr"] == sanitize_utf8(err_bytes));
  return 0;
}
