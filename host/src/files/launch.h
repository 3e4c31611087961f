// The portable half of run_process: where a program is looked for, the command line it
// gets, and how its captured output becomes the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/handler.h"

namespace quorvane::files {

// Only this much of each captured stream goes into the reply.
inline constexpr std::size_t kMaxCapturedOutput = 409600;

// The folders a bare program name is looked for in, in order: the host's own folder,
// the system folder, the Windows folder, then every non-empty entry of PATH. The
// current directory is deliberately absent.
std::vector<std::u16string> program_search_folders(std::u16string_view own_folder, std::u16string_view system_folder,
                                                   std::u16string_view windows_folder,
                                                   std::optional<std::u16string_view> path_variable);

// Entries of a PATH value: separated by ';', with double quotes protecting a ';' inside
// a folder name (the quotes themselves are dropped). Empty entries are left out.
std::vector<std::u16string> split_path_variable(std::u16string_view value);

// What to look for inside a search folder: the name itself when it has a dot anywhere,
// otherwise the name with ".exe".
std::u16string program_candidate_name(std::u16string_view name);

bool ends_with_ascii_ci(std::u16string_view text, std::u16string_view suffix);
bool is_batch_script(std::u16string_view program);

// The services program lookup needs. `probe` answers whether a candidate exists and, if
// so, the path to start it by.
struct ProgramLookup {
  std::function<std::optional<std::u16string>(std::u16string_view candidate)> probe;
  std::function<std::vector<std::u16string>()> search_folders;
};

// The located program, or the fixed text of the failure ("program not found",
// "program path has no file name").
Result<std::u16string, std::string_view> locate_program(std::u16string_view file_name, const ProgramLookup& lookup);

// "\"<fileName>\"" plus " <arguments>" when arguments are not empty. Neither part is
// escaped: the name is quoted as given and the arguments are the caller's own text.
std::u16string program_command_line(std::u16string_view file_name, std::u16string_view arguments);

// Batch scripts run through cmd.exe: cmd.exe /e:ON /v:OFF /d /c ""<script>" <arguments>".
// A script path with a double quote or a trailing backslash cannot be quoted safely for
// cmd.exe and gives the fixed batch-path message instead.
Result<std::u16string, std::string_view> batch_command_line(std::u16string_view script, std::u16string_view arguments);

// The result of a waited launch: the exit code as a signed 32-bit number, each stream cut
// to its first 409600 bytes and decoded as UTF-8 (invalid sequences, including a
// character split by the cut, become U+FFFD), and whether either stream was longer.
json waited_launch_result(std::uint32_t exit_code, std::string_view stdout_bytes, std::string_view stderr_bytes);

json unwaited_launch_result();

}  // namespace quorvane::files
