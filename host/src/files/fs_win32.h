// File-system operations shared by the file-system, content and launch handlers
// (Windows only). Paths are as the request gave them unless the name says "system".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/listing.h"
#include "files/win32_support.h"

namespace quorvane::files {

struct EntryInfo {
  DWORD attributes = 0;
  DWORD reparse_tag = 0;
  std::uint64_t size = 0;
  std::uint64_t last_write = 0;  // FILETIME
};

// Describes the entry at a system path, links followed.
Result<EntryInfo, Failure> query_entry(const std::wstring& system);

struct WideEntry {
  std::wstring name;
  DWORD attributes = 0;
  DWORD reparse_tag = 0;
};

// Everything inside `folder` but "." and "..". A folder with nothing to list (not even
// the dot entries, as at an empty drive root) is an empty listing, not a failure.
Result<std::vector<WideEntry>, Failure> list_folder(std::wstring_view folder);

// Deletes one file (or a link to a file); see delete_file for the read-only handling.
bool delete_file_at(const std::wstring& system);

// Renames the file at the system path `source` to the request path `target` through an
// open handle, replacing the target, with POSIX semantics where the system has them and
// the classic rename where it does not.
bool rename_by_handle(const std::wstring& source, std::string_view target);
bool rename_by_handle(const std::wstring& source, const std::wstring& target_system);

}  // namespace quorvane::files
