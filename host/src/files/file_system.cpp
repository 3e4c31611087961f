#include "files/file_system.h"

#include "files/listing.h"
#include "files/long_path.h"

namespace quorvane::files {

// Every entry either goes or ends the walk with false; a folder is listed again after
// its sub-folders went, which also makes sure nothing new is left inside.
bool remove_tree(FileSystem& fs, std::u16string_view root) {
  struct Frame {
    std::u16string path;
    int attempts = 0;
    int expansions = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({std::u16string(root)});
  while (!stack.empty()) {
    std::u16string folder = stack.back().path;
    std::optional<std::vector<FolderEntry>> entries = fs.list(folder);
    if (!entries) return false;
    std::vector<std::u16string> subfolders;
    for (const FolderEntry& entry : *entries) {
      std::u16string child = join_path(folder, entry.name);
      if (counts_as_directory(entry.attributes, entry.reparse_tag)) {
        subfolders.push_back(std::move(child));
      } else if (entry.attributes & kAttributeDirectory) {
        if (fs.remove_empty_folder(child) != Removal::Removed) return false;
      } else if (!fs.delete_file(child)) {
        return false;
      }
    }
    if (!subfolders.empty()) {
      if (++stack.back().expansions > kRemoveAttempts) return false;
      for (std::u16string& sub : subfolders) stack.push_back({std::move(sub)});
      continue;
    }
    Removal removal = fs.remove_empty_folder(folder);
    if (removal == Removal::Removed) {
      stack.pop_back();
      continue;
    }
    if (removal != Removal::NotEmpty || ++stack.back().attempts >= kRemoveAttempts) return false;
    fs.pause(10 * stack.back().attempts);
  }
  return true;
}

bool remove_folder(FileSystem& fs, std::u16string_view path) {
  if (path.empty()) return false;
  std::optional<std::uint32_t> attributes = fs.attributes(path);
  if (!attributes || !(*attributes & kAttributeDirectory)) return false;
  std::optional<std::u16string> full = fs.full_path(path);
  if (!full || is_volume_root(*full)) return false;
  if ((*attributes & kAttributeReparsePoint) && !counts_as_directory(*attributes, fs.own_reparse_tag(path))) {
    return fs.remove_empty_folder(path) == Removal::Removed;
  }
  return remove_tree(fs, path);
}

bool move_entry(FileSystem& fs, std::u16string_view source, std::u16string_view target) {
  Rename renamed = fs.rename(source, target);
  if (renamed == Rename::Done) return true;
  if (renamed == Rename::AccessDenied && fs.rename_by_handle(source, target)) return true;
  // Another volume, or a rename the system refuses: copy, then delete the source. If the
  // delete fails the copy stays.
  if (!fs.copy(source, target)) return false;
  return fs.delete_file(source);
}

}  // namespace quorvane::files
