// The decisions behind removing a folder tree and moving an entry, apart from the calls
// that carry them out: the system implementation lives with the handlers, a fake in the
// tests. Paths are request paths in UTF-16; an implementation makes system paths of them
// itself, and a path the system cannot take fails every call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::files {

struct FolderEntry {
  std::u16string name;
  std::uint32_t attributes = 0;
  std::uint32_t reparse_tag = 0;
};

enum class Removal { Removed, NotEmpty, Refused };
enum class Rename { Done, AccessDenied, Failed };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Everything inside `folder` but "." and ".."; nullopt when it cannot be listed.
  virtual std::optional<std::vector<FolderEntry>> list(std::u16string_view folder) = 0;
  // One file, or a link to a file; read-only ones too.
  virtual bool delete_file(std::u16string_view path) = 0;
  // An empty folder, or a link to a folder (never its target); read-only ones too.
  virtual Removal remove_empty_folder(std::u16string_view path) = 0;
  // Waits before a folder that still had entries is tried again.
  virtual void pause(int milliseconds) = 0;

  // The attributes of the entry itself, or nullopt when there is none.
  virtual std::optional<std::uint32_t> attributes(std::u16string_view path) = 0;
  // The absolute, normalised form of `path`.
  virtual std::optional<std::u16string> full_path(std::u16string_view path) = 0;
  // The reparse tag of the entry itself (0 when it cannot be read).
  virtual std::uint32_t own_reparse_tag(std::u16string_view path) = 0;

  // The system's rename, replacing an existing target.
  virtual Rename rename(std::u16string_view source, std::u16string_view target) = 0;
  // A rename through a handle opened for deletion only, which some refusals of the plain
  // rename (a read-only target, an open source) do not apply to.
  virtual bool rename_by_handle(std::u16string_view source, std::u16string_view target) = 0;
  // A whole copy that replaces the target only once complete.
  virtual bool copy(std::u16string_view source, std::u16string_view target) = 0;
};

// A folder that still lists entries after they were deleted is usually waiting for
// another process (an indexer, a virus scanner) to close them: it is tried this many
// times, with a growing pause, and a folder whose sub-folders keep coming back is
// expanded at most this many times.
inline constexpr int kRemoveAttempts = 5;

// Removes `root` and everything below it, depth first, without ever entering a link.
bool remove_tree(FileSystem& fs, std::u16string_view root);

// remove_directory: `path` must be a folder and never a volume root (emptying a root
// that can never be removed would be all loss and no result); a link to a folder goes
// as the link, anything else with everything inside it.
bool remove_folder(FileSystem& fs, std::u16string_view path);

// move_file: the system's rename; on a refusal, the rename by handle; then a copy and
// the deletion of the source. A source that survives its copy makes the answer false.
bool move_entry(FileSystem& fs, std::u16string_view source, std::u16string_view target);

}  // namespace quorvane::files
