// Whole-file writes and copies that never leave a half-written file behind. The new
// content goes to a file beside the target, in the same folder (so on the same volume),
// and takes the target's place by a rename only once it is complete. A failure at any
// point (a full disk above all) leaves the old file as it was and removes the new one.
#pragma once

#include <string>

#include "common/write_all_win32.h"
#include "files/win32_support.h"

namespace quorvane::files {

// How the finished file takes the place of an existing one.
enum class ReplaceStyle {
  // A rewrite of the target's content: the new file takes over the target's attributes
  // (hidden, system, archive, not indexed) and creation time, as an in-place write
  // leaves them.
  KeepTarget,
  // A fresh file: the target becomes the new file with everything it carries, as the
  // system's file copy leaves its destination.
  Fresh,
};

// Where a write to the system path `system` lands: the path itself, or the file a link
// at it points to (writes follow links; replacing the link itself would cut it). Fails
// as an in-place open for writing would: a folder, a read-only file, no access, a
// missing folder. With ReplaceStyle::Fresh an existing hidden target is refused too, as
// the system's copy refuses it.
// A device (NUL, a console, a serial port, a Unix character device under Wine) is no
// file that could be replaced: it is written in place.
struct WriteTarget {
  std::wstring path;
  bool exists = false;
  bool device = false;
  FILE_BASIC_INFO basic{};  // of an existing target
};
Result<WriteTarget, Failure> resolve_write_target(const std::wstring& system, ReplaceStyle style);

// A new, empty file beside a target. Unless it was committed, it is removed when the
// owner goes, so no failure leaves it behind.
class SiblingFile {
 public:
  static Result<SiblingFile, Failure> create(const std::wstring& target);

  SiblingFile(SiblingFile&& other) noexcept;
  SiblingFile& operator=(SiblingFile&&) = delete;
  SiblingFile(const SiblingFile&) = delete;
  ~SiblingFile();

  HANDLE handle() const { return file_.get(); }
  const std::wstring& path() const { return path_; }
  // Closes the handle, for callers that fill the file by name (a copy).
  void close() { file_.reset(); }

  // Closes the file and renames it over `target`. On failure the target is untouched
  // and the last error tells why.
  bool commit(const WriteTarget& target, ReplaceStyle style);

 private:
  SiblingFile(unique_handle file, std::wstring path) : file_(std::move(file)), path_(std::move(path)) {}
  unique_handle file_;
  std::wstring path_;
  bool committed_ = false;
};

// Writes `bytes` to the system path `system` through a sibling file.
bool replace_file_content(const std::wstring& system, std::string_view bytes);

// Copies `source` to `target` (system paths) through a sibling file.
bool replace_by_copy(const std::wstring& source, const std::wstring& target);

}  // namespace quorvane::files
