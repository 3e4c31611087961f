#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "files/file_system.h"
#include "files/listing.h"

namespace quorvane::files {
namespace {

using Log = std::vector<std::u16string>;

constexpr std::uint32_t kFile = 0x20;
constexpr std::uint32_t kFolder = kAttributeDirectory;
constexpr std::uint32_t kFolderLink = kAttributeDirectory | kAttributeReparsePoint;
constexpr std::uint32_t kSymlinkTag = 0xA000000C;
constexpr std::uint32_t kMountPointTag = 0xA0000003;

std::u16string parent_of(std::u16string_view path) {
  std::size_t cut = path.rfind(u'\\');
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut));
}
std::u16string name_of(std::u16string_view path) { return std::u16string(path.substr(path.rfind(u'\\') + 1)); }

// A folder tree in memory that logs every call. Deleted entries leave their parent's
// listing unless they are marked to come back.
class FakeFileSystem final : public FileSystem {
 public:
  std::map<std::u16string, std::vector<FolderEntry>> folders;
  std::map<std::u16string, std::uint32_t> entry_attributes;
  std::map<std::u16string, std::u16string> full_paths;
  std::map<std::u16string, std::uint32_t> reparse_tags;
  std::map<std::u16string, int> busy;    // answers "not empty" this many more times
  std::set<std::u16string> refused;      // every removal or deletion is refused
  std::set<std::u16string> reappearing;  // stays listed in its parent after removal
  Rename rename_answer = Rename::Done;
  bool handle_rename_answer = true;
  bool copy_answer = true;
  Log log;

  void add(std::u16string_view folder, std::u16string name, std::uint32_t attributes, std::uint32_t tag = 0) {
    folders[std::u16string(folder)].push_back({name, attributes, tag});
    if (attributes == kFolder) folders.try_emplace(std::u16string(folder) + u"\\" + name);
  }

  std::optional<std::vector<FolderEntry>> list(std::u16string_view folder) override {
    log.push_back(u"list " + std::u16string(folder));
    auto it = folders.find(std::u16string(folder));
    if (it == folders.end()) return std::nullopt;
    return it->second;
  }
  bool delete_file(std::u16string_view path) override {
    log.push_back(u"delete " + std::u16string(path));
    if (refused.count(std::u16string(path))) return false;
    forget(path);
    return true;
  }
  Removal remove_empty_folder(std::u16string_view path) override {
    std::u16string key(path);
    log.push_back(u"rmdir " + key);
    if (refused.count(key)) return Removal::Refused;
    if (busy[key] > 0) {
      --busy[key];
      return Removal::NotEmpty;
    }
    auto it = folders.find(key);
    if (it != folders.end() && !it->second.empty()) return Removal::NotEmpty;
    if (!reappearing.count(key)) {
      if (it != folders.end()) folders.erase(it);
      forget(path);
    }
    return Removal::Removed;
  }
  void pause(int milliseconds) override {
    std::string ms = std::to_string(milliseconds);
    log.push_back(u"pause " + std::u16string(ms.begin(), ms.end()));
  }
  std::optional<std::uint32_t> attributes(std::u16string_view path) override {
    auto it = entry_attributes.find(std::u16string(path));
    if (it == entry_attributes.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::u16string> full_path(std::u16string_view path) override {
    auto it = full_paths.find(std::u16string(path));
    if (it == full_paths.end()) return std::u16string(path);
    return it->second;
  }
  std::uint32_t own_reparse_tag(std::u16string_view path) override {
    log.push_back(u"tag " + std::u16string(path));
    return reparse_tags[std::u16string(path)];
  }
  Rename rename(std::u16string_view source, std::u16string_view target) override {
    log.push_back(u"rename " + std::u16string(source) + u" " + std::u16string(target));
    return rename_answer;
  }
  bool rename_by_handle(std::u16string_view source, std::u16string_view target) override {
    log.push_back(u"handle-rename " + std::u16string(source) + u" " + std::u16string(target));
    return handle_rename_answer;
  }
  bool copy(std::u16string_view source, std::u16string_view target) override {
    log.push_back(u"copy " + std::u16string(source) + u" " + std::u16string(target));
    return copy_answer;
  }

 private:
  void forget(std::u16string_view path) {
    std::vector<FolderEntry>& siblings = folders[parent_of(path)];
    std::erase_if(siblings, [&](const FolderEntry& e) { return e.name == name_of(path); });
  }
};

TEST(RemoveTree, GoesDepthFirstAndListsEachFolderAgainAfterItsSubfolders) {
  FakeFileSystem fs;
  fs.add(u"C:\\r", u"a.txt", kFile);
  fs.add(u"C:\\r", u"sub", kFolder);
  fs.add(u"C:\\r\\sub", u"b.txt", kFile);
  EXPECT_TRUE(remove_tree(fs, u"C:\\r"));
  EXPECT_EQ(fs.log, (Log{u"list C:\\r", u"delete C:\\r\\a.txt", u"list C:\\r\\sub", u"delete C:\\r\\sub\\b.txt",
                         u"rmdir C:\\r\\sub", u"list C:\\r", u"rmdir C:\\r"}));
  EXPECT_TRUE(fs.folders.count(u"C:\\r") == 0);
}

TEST(RemoveTree, LinksAreRemovedAsEntriesAndNeverEntered) {
  FakeFileSystem fs;
  fs.add(u"C:\\r", u"dirlink", kFolderLink, kSymlinkTag);
  fs.add(u"C:\\r", u"junction", kFolderLink, kMountPointTag);
  fs.add(u"C:\\r", u"untagged", kFolderLink, 0);
  EXPECT_TRUE(remove_tree(fs, u"C:\\r"));
  EXPECT_EQ(fs.log, (Log{u"list C:\\r", u"rmdir C:\\r\\dirlink", u"rmdir C:\\r\\junction", u"rmdir C:\\r\\untagged",
                         u"rmdir C:\\r"}));
}

TEST(RemoveTree, AnyEntryThatStaysEndsTheWalkAtOnce) {
  FakeFileSystem fs;
  fs.add(u"C:\\r", u"locked", kFile);
  fs.add(u"C:\\r", u"later", kFile);
  fs.refused.insert(u"C:\\r\\locked");
  EXPECT_FALSE(remove_tree(fs, u"C:\\r"));
  EXPECT_EQ(fs.log, (Log{u"list C:\\r", u"delete C:\\r\\locked"}));

  FakeFileSystem link;
  link.add(u"C:\\r", u"l", kFolderLink, kSymlinkTag);
  link.refused.insert(u"C:\\r\\l");
  EXPECT_FALSE(remove_tree(link, u"C:\\r"));
  EXPECT_EQ(link.log.back(), u"rmdir C:\\r\\l");

  FakeFileSystem unlistable;
  EXPECT_FALSE(remove_tree(unlistable, u"C:\\gone"));
  EXPECT_EQ(unlistable.log, (Log{u"list C:\\gone"}));
}

TEST(RemoveTree, ABusyFolderIsRetriedWithGrowingPausesThenGivenUp) {
  FakeFileSystem fs;
  fs.folders[u"C:\\r"];
  fs.busy[u"C:\\r"] = 2;
  EXPECT_TRUE(remove_tree(fs, u"C:\\r"));
  EXPECT_EQ(fs.log, (Log{u"list C:\\r", u"rmdir C:\\r", u"pause 10", u"list C:\\r", u"rmdir C:\\r", u"pause 20",
                         u"list C:\\r", u"rmdir C:\\r"}));

  FakeFileSystem stuck;
  stuck.folders[u"C:\\r"];
  stuck.busy[u"C:\\r"] = 1000;
  EXPECT_FALSE(remove_tree(stuck, u"C:\\r"));
  EXPECT_EQ(std::count(stuck.log.begin(), stuck.log.end(), u"rmdir C:\\r"), kRemoveAttempts);
  EXPECT_EQ(std::count(stuck.log.begin(), stuck.log.end(), u"pause 40"), 1);
  EXPECT_EQ(stuck.log.back(), u"rmdir C:\\r");

  // A refusal for another reason is final.
  FakeFileSystem refused;
  refused.folders[u"C:\\r"];
  refused.refused.insert(u"C:\\r");
  EXPECT_FALSE(remove_tree(refused, u"C:\\r"));
  EXPECT_EQ(refused.log, (Log{u"list C:\\r", u"rmdir C:\\r"}));
}

TEST(RemoveTree, ASubfolderThatKeepsComingBackEndsTheWalk) {
  FakeFileSystem fs;
  fs.add(u"C:\\r", u"sub", kFolder);
  fs.reappearing.insert(u"C:\\r\\sub");
  EXPECT_FALSE(remove_tree(fs, u"C:\\r"));
  EXPECT_EQ(std::count(fs.log.begin(), fs.log.end(), u"rmdir C:\\r\\sub"), kRemoveAttempts);
  EXPECT_EQ(std::count(fs.log.begin(), fs.log.end(), u"rmdir C:\\r"), 0);
}

TEST(RemoveFolder, VolumeRootsAndNonFoldersAreRefusedBeforeAnythingIsTouched) {
  FakeFileSystem fs;
  fs.folders[u"C:\\"] = {{u"x", kFile, 0}};
  fs.entry_attributes = {{u"C:\\", kFolder},
                         {u"..\\..", kFolder},
                         {u"\\\\srv\\share", kFolder},
                         {u"\\\\?\\D:\\", kFolder},
                         {u"f.txt", kFile}};
  fs.full_paths = {{u"..\\..", u"C:\\"}};
  for (std::u16string_view path : {u"C:\\", u"..\\..", u"\\\\srv\\share", u"\\\\?\\D:\\", u"f.txt", u"missing", u""}) {
    EXPECT_FALSE(remove_folder(fs, path));
  }
  EXPECT_TRUE(fs.log.empty()) << "touched: " << fs.log.size();
}

TEST(RemoveFolder, ALinkGoesAsTheLinkAndAFolderWithEverythingInside) {
  FakeFileSystem fs;
  fs.entry_attributes = {{u"C:\\link", kFolderLink}, {u"C:\\dir", kFolder}, {u"C:\\mount", kFolderLink}};
  fs.reparse_tags = {{u"C:\\link", kSymlinkTag}, {u"C:\\mount", 0x9000001A}};  // the last: no name surrogate
  // What a link points to is never listed, let alone emptied.
  EXPECT_TRUE(remove_folder(fs, u"C:\\link"));
  EXPECT_EQ(fs.log, (Log{u"tag C:\\link", u"rmdir C:\\link"}));

  fs.log.clear();
  fs.add(u"C:\\dir", u"f", kFile);
  EXPECT_TRUE(remove_folder(fs, u"C:\\dir"));
  EXPECT_EQ(fs.log, (Log{u"list C:\\dir", u"delete C:\\dir\\f", u"rmdir C:\\dir"}));

  // A reparse point that names no other place is a real folder: emptied and removed.
  fs.log.clear();
  fs.add(u"C:\\mount", u"f", kFile);
  EXPECT_TRUE(remove_folder(fs, u"C:\\mount"));
  EXPECT_EQ(fs.log, (Log{u"tag C:\\mount", u"list C:\\mount", u"delete C:\\mount\\f", u"rmdir C:\\mount"}));
}

TEST(MoveEntry, FallsBackFromRenameToHandleRenameToCopyAndDelete) {
  struct Case {
    Rename rename;
    bool handle, copy, delete_source;
    bool moved;
    Log log;
  };
  const std::u16string r = u"rename a b", h = u"handle-rename a b", c = u"copy a b", d = u"delete a";
  const Case cases[] = {
      {Rename::Done, false, false, false, true, {r}},
      {Rename::AccessDenied, true, false, false, true, {r, h}},
      {Rename::AccessDenied, false, true, true, true, {r, h, c, d}},
      // Only a refusal is worth the handle rename; another volume goes straight to a copy.
      {Rename::Failed, true, true, true, true, {r, c, d}},
      // No copy, no deletion: the source must survive.
      {Rename::Failed, true, false, true, false, {r, c}},
      // The copy stays, but the source is still there, so it was no move.
      {Rename::AccessDenied, false, true, false, false, {r, h, c, d}},
  };
  for (const Case& test : cases) {
    FakeFileSystem fs;
    fs.rename_answer = test.rename;
    fs.handle_rename_answer = test.handle;
    fs.copy_answer = test.copy;
    if (!test.delete_source) fs.refused.insert(u"a");
    EXPECT_EQ(move_entry(fs, u"a", u"b"), test.moved) << static_cast<int>(test.rename);
    EXPECT_EQ(fs.log, test.log) << static_cast<int>(test.rename);
  }
}

}  // namespace
}  // namespace quorvane::files
