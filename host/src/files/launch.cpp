#include "files/launch.h"

#include "common/utf.h"
#include "files/errors.h"
#include "files/long_path.h"

namespace quorvane::files {

std::vector<std::u16string> split_path_variable(std::u16string_view value) {
  std::vector<std::u16string> out;
  std::u16string current;
  bool quoted = false;
  for (char16_t c : value) {
    if (c == u'"') {
      quoted = !quoted;
    } else if (c == u';' && !quoted) {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

std::vector<std::u16string> program_search_folders(std::u16string_view own_folder, std::u16string_view system_folder,
                                                   std::u16string_view windows_folder,
                                                   std::optional<std::u16string_view> path_variable) {
  std::vector<std::u16string> out;
  for (std::u16string_view folder : {own_folder, system_folder, windows_folder}) {
    if (!folder.empty()) out.emplace_back(folder);
  }
  if (path_variable) {
    for (std::u16string& folder : split_path_variable(*path_variable)) out.push_back(std::move(folder));
  }
  return out;
}

std::u16string program_candidate_name(std::u16string_view name) {
  std::u16string out(name);
  if (name.find(u'.') == std::u16string_view::npos) out += u".exe";
  return out;
}

bool ends_with_ascii_ci(std::u16string_view text, std::u16string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char16_t a = text[i], b = suffix[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

bool is_batch_script(std::u16string_view program) {
  return ends_with_ascii_ci(program, u".bat") || ends_with_ascii_ci(program, u".cmd");
}

Result<std::u16string, std::string_view> locate_program(std::u16string_view file_name, const ProgramLookup& lookup) {
  if (file_name.empty() || is_separator(file_name.back())) return fail(kNoFileName);
  bool has_folder = file_name.find_first_of(u"\\/") != std::u16string_view::npos;
  if (has_folder) {
    if (ends_with_ascii_ci(file_name, u".exe")) return std::u16string(file_name);
    std::u16string with_exe = std::u16string(file_name) + u".exe";
    if (lookup.probe(with_exe)) return with_exe;
    return std::u16string(file_name);
  }
  std::u16string candidate = program_candidate_name(file_name);
  for (const std::u16string& folder : lookup.search_folders()) {
    if (std::optional<std::u16string> found = lookup.probe(join_path(folder, candidate))) return std::move(*found);
  }
  return fail(kProgramNotFound);
}

std::u16string program_command_line(std::u16string_view file_name, std::u16string_view arguments) {
  std::u16string out;
  out.reserve(file_name.size() + arguments.size() + 3);
  out += u'"';
  out += file_name;
  out += u'"';
  if (!arguments.empty()) {
    out += u' ';
    out += arguments;
  }
  return out;
}

Result<std::u16string, std::string_view> batch_command_line(std::u16string_view script, std::u16string_view arguments) {
  if (script.find(u'"') != std::u16string_view::npos || (!script.empty() && script.back() == u'\\')) {
    return fail(kBadBatchPath);
  }
  // The outer pair of quotes is what cmd.exe strips from a /c command, so the quoted
  // script path and the arguments reach it as written.
  return u"cmd.exe /e:ON /v:OFF /d /c \"" + program_command_line(script, arguments) + u'"';
}

json waited_launch_result(std::uint32_t exit_code, std::string_view stdout_bytes, std::string_view stderr_bytes) {
  json out = json::object();
  out["exitCode"] = static_cast<std::int32_t>(exit_code);
  out["outputTruncated"] = stdout_bytes.size() > kMaxCapturedOutput || stderr_bytes.size() > kMaxCapturedOutput;
  out["stderr"] = sanitize_utf8(stderr_bytes.substr(0, kMaxCapturedOutput));
  out["stdout"] = sanitize_utf8(stdout_bytes.substr(0, kMaxCapturedOutput));
  return out;
}

json unwaited_launch_result() {
  json out = json::object();
  out["exitCode"] = nullptr;
  return out;
}

}  // namespace quorvane::files
