// Every text the file-access methods answer with, in one place; besides these, only the
// system's own error texts (common/error_text.h) and the missing-parameter text of
// common/params.h's required_string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::files {

inline constexpr std::string_view kMissingFolderParam = "Missing numeric param 'folder'";

inline std::string unknown_special_folder(std::uint64_t folder) {
  return "Unknown special folder " + std::to_string(folder);
}

inline constexpr std::string_view kSpecialFolderNotAvailable = "Special folder not available";

// Failures that carry no system error code.
inline constexpr std::string_view kFailedToFillWholeBuffer = "failed to fill whole buffer";
inline constexpr std::string_view kInvalidUtf8Stream = "stream did not contain valid UTF-8";
inline constexpr std::string_view kNulInString = "strings passed to WinAPI cannot contain NULs";

// Launch failures.
inline constexpr std::string_view kProgramNotFound = "program not found";
inline constexpr std::string_view kNoFileName = "program path has no file name";
inline constexpr std::string_view kBadBatchPath = "Windows file names may not contain `\"` or end with `\\`";

inline std::string run_failed(std::string_view file_name, std::string_view detail) {
  std::string out = "run_failed: ";
  out += file_name;
  out += ": ";
  out += detail;
  return out;
}

}  // namespace quorvane::files
