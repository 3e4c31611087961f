// The file-system methods on the real (Wine) file system.
#include <gtest/gtest.h>

#include <algorithm>

#include "files/fs_win32.h"
#include "win32_test_support.h"

namespace quorvane::files::testing {
namespace {

using Names = std::vector<std::string>;

json path_params(const std::string& path) { return json{{"path", path}}; }

TEST(FilesParams, MissingStringParamsAreNamedInReadingOrder) {
  const char* path_methods[] = {"file_exists",
                                "directory_exists",
                                "create_directory",
                                "remove_directory",
                                "delete_file",
                                "get_files",
                                "get_directories",
                                "get_file_system_entries",
                                "get_file_system_entry_info",
                                "read_all_text",
                                "read_all_bytes",
                                "write_all_text",
                                "write_all_bytes",
                                "append_all_text",
                                "append_all_bytes",
                                "get_file_size",
                                "read_file_range"};
  const json bad_params[] = {json::object(),
                             json::parse(R"({"path":5})"),
                             json::parse(R"({"path":null})"),
                             json::parse(R"({"path":["a"]})"),
                             json::array(),
                             json(),
                             json("path")};
  for (const char* method : path_methods) {
    for (const json& params : bad_params) {
      EXPECT_EQ(error_of(method, params), "Missing string param 'path'") << method << " " << params.dump();
    }
  }
  for (const char* method : {"write_all_text", "write_all_bytes", "append_all_text", "append_all_bytes"}) {
    EXPECT_EQ(error_of(method, json{{"path", "x"}}), "Missing string param 'content'") << method;
    EXPECT_EQ(error_of(method, json{{"path", "x"}, {"content", 1}}), "Missing string param 'content'") << method;
    EXPECT_EQ(error_of(method, json{{"content", "x"}}), "Missing string param 'path'") << method;
  }
  for (const char* method : {"copy_file", "move_file"}) {
    EXPECT_EQ(error_of(method, json::object()), "Missing string param 'sourcePath'");
    EXPECT_EQ(error_of(method, json{{"targetPath", "b"}}), "Missing string param 'sourcePath'");
    EXPECT_EQ(error_of(method, json{{"sourcePath", "a"}}), "Missing string param 'targetPath'");
    EXPECT_EQ(error_of(method, json{{"sourcePath", "a"}, {"targetPath", false}}), "Missing string param 'targetPath'");
  }
  EXPECT_EQ(error_of("run_process", json{{"fileName", nullptr}, {"waitForExit", true}}),
            "Missing string param 'fileName'");
  EXPECT_EQ(error_of("unknown_files_method", json::object()), "Unknown method: unknown_files_method");
}

TEST(FilesParams, NothingChangesWhenAParameterIsMissing) {
  TempDir dir;
  put_file(dir / "src", "data");
  error_of("move_file", json{{"sourcePath", dir / "src"}});
  error_of("write_all_text", json{{"path", dir / "src"}});
  error_of("copy_file", json{{"targetPath", dir / "copy"}});
  EXPECT_EQ(file_bytes(dir / "src"), "data");
  EXPECT_FALSE(exists(dir / "copy"));
}

TEST(SpecialFolders, ProfileAndDesktop) {
  std::string profile = ok("get_special_folder_path", json{{"folder", 0}}).get<std::string>();
  std::string desktop = ok("get_special_folder_path", json::parse(R"({"folder":1})")).get<std::string>();
  EXPECT_FALSE(profile.empty());
  EXPECT_EQ(desktop.rfind(profile, 0), 0u) << desktop << " is not inside " << profile;
  EXPECT_EQ(ok("directory_exists", path_params(profile)), true);
}

TEST(SpecialFolders, FolderParameter) {
  for (const char* params : {R"({})", R"({"folder":-1})", R"({"folder":1.5})", R"({"folder":"1"})",
                             R"({"folder":null})", R"({"folder":true})", R"([0])", R"({"folder":1e0})"}) {
    EXPECT_EQ(error_of("get_special_folder_path", json::parse(params)), "Missing numeric param 'folder'") << params;
  }
  EXPECT_EQ(error_of("get_special_folder_path", json::parse(R"({"folder":2})")), "Unknown special folder 2");
  EXPECT_EQ(error_of("get_special_folder_path", json::parse(R"({"folder":18446744073709551615})")),
            "Unknown special folder 18446744073709551615");
}

TEST(Existence, FilesFoldersAndBadPaths) {
  TempDir dir;
  put_file(dir / "f.txt", "x");
  make_dir(dir / "sub");
  EXPECT_EQ(ok("file_exists", path_params(dir / "f.txt")), true);
  EXPECT_EQ(ok("file_exists", path_params(dir / "sub")), false);
  EXPECT_EQ(ok("directory_exists", path_params(dir / "sub")), true);
  EXPECT_EQ(ok("directory_exists", path_params(dir / "sub\\")), true);
  EXPECT_EQ(ok("directory_exists", path_params(dir / "f.txt")), false);
  for (const std::string& bad : {dir / "missing", std::string(), dir / std::string("f.txt\0x", 7),
                                 dir / std::string(300, 'n'), dir / "missing\\deeper"}) {
    EXPECT_EQ(ok("file_exists", path_params(bad)), false);
    EXPECT_EQ(ok("directory_exists", path_params(bad)), false);
  }
}

TEST(Listing, FilesAndDirectoriesSortedByBytes) {
  TempDir dir;
  put_file(dir / "a.txt", "");
  put_file(dir / "B.txt", "");
  put_file(dir / "\xC3\xA9t\xC3\xA9.txt", "");
  make_dir(dir / "sub");
  make_dir(dir / "Zed");
  EXPECT_EQ(ok("get_files", path_params(dir.path())).dump(),
            R"({"entries":["B.txt","a.txt","été.txt"],"errorCode":0})");
  EXPECT_EQ(ok("get_directories", path_params(dir.path())).dump(), R"({"entries":["Zed","sub"],"errorCode":0})");
  // Forward slashes and a trailing separator name the same folder.
  std::string slashed = dir.path() + "/";
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  EXPECT_EQ(ok("get_directories", path_params(slashed))["entries"], (Names{"Zed", "sub"}));
}

TEST(Listing, ExtensionFilter) {
  TempDir dir;
  for (const char* name : {"a.png", "B.JPG", "c.txt", "d.jpeg", "e.Png", "noext", "f.tar.gz"}) put_file(dir / name, "");
  make_dir(dir / "sub.folder");
  json params = path_params(dir.path());
  params["extensions"] = json::parse(R"([".PNG", "jpg", 5])");
  EXPECT_EQ(ok("get_file_system_entries", params)["entries"], (Names{"B.JPG", "a.png", "e.Png", "sub.folder"}));
  params["extensions"] = json::parse(R"(["..GZ"])");
  EXPECT_EQ(ok("get_file_system_entries", params)["entries"], (Names{"f.tar.gz", "sub.folder"}));
  params["extensions"] = "png";  // not an array: no filter
  EXPECT_EQ(ok("get_file_system_entries", params)["entries"].size(), 8u);
}

TEST(Listing, FailuresAreEnvelopesNotErrors) {
  TempDir dir;
  put_file(dir / "file", "x");
  make_dir(dir / "empty");
  const std::string failing[] = {dir / "missing", "", dir / "file", dir / std::string("a\0b", 3),
                                 dir / std::string(300, 'x')};
  for (const char* method : {"get_files", "get_directories", "get_file_system_entries"}) {
    for (const std::string& path : failing) {
      EXPECT_EQ(ok(method, path_params(path)).dump(), R"({"entries":[],"errorCode":1})") << method << " " << path;
    }
    EXPECT_EQ(ok(method, path_params(dir / "empty")).dump(), R"({"entries":[],"errorCode":0})");
  }
}

TEST(Listing, ThousandsOfEntries) {
  TempDir dir;
  // Wine creates files in a crowded folder slowly; the host's shell fills it at once.
  std::optional<std::string> unix_dir = unix_path_of(dir.path());
  ASSERT_TRUE(unix_dir);
  ASSERT_TRUE(run_host_program(
      L"Z:\\bin\\sh",
      L"sh -c \"cd '" + to_wide(*unix_dir) + L"' && i=0 && while [ $i -lt 3000 ]; do : > f$i; i=$((i+1)); done\""));
  Names expected;
  for (int i = 0; i < 3000; ++i) expected.push_back("f" + std::to_string(i));
  ASSERT_TRUE(await_entry(dir / "f2999", 120000));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ok("get_files", path_params(dir.path()))["entries"], expected);
}

TEST(Listing, LongFolderPaths) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 400) {
    deep += "\\" + std::string(40, 'd');
    make_dir(deep);
  }
  put_file(deep + "\\inside.txt", "x");
  EXPECT_EQ(ok("get_files", path_params(deep))["entries"], (Names{"inside.txt"}));
  EXPECT_EQ(ok("file_exists", path_params(deep + "\\inside.txt")), true);
}

TEST(Listing, HostSymlinksAreListedAsFiles) {
  TempDir dir;
  make_dir(dir / "real");
  if (!make_host_symlink("real", dir / "link")) {
    GTEST_SKIP() << "cannot make a host symbolic link here";
  }
  EXPECT_EQ(ok("get_directories", path_params(dir.path()))["entries"], (Names{"real"}));
  EXPECT_EQ(ok("get_files", path_params(dir.path()))["entries"], (Names{"link"}));
  // Links followed, it is a folder.
  EXPECT_EQ(ok("directory_exists", path_params(dir / "link")), true);
}

TEST(EntryInfo, SizeKindAndTime) {
  TempDir dir;
  put_file(dir / "f.bin", std::string(12345, 'z'));
  make_dir(dir / "sub");
  json info = ok("get_file_system_entry_info", path_params(dir / "f.bin"));
  EXPECT_EQ(info["isDirectory"], false);
  EXPECT_EQ(info["length"], 12345);
  EXPECT_GT(info["lastWriteTime"].get<std::uint64_t>(), 1600000000000u);
  EXPECT_EQ(ok("get_file_system_entry_info", path_params(dir / "sub"))["isDirectory"], true);

  auto set_write_time = [&](std::uint64_t filetime) {
    unique_handle h(
        CreateFileW(to_wide(dir / "f.bin").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    FILETIME ft{static_cast<DWORD>(filetime), static_cast<DWORD>(filetime >> 32)};
    EXPECT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &ft));
  };
  set_write_time(116444736000000000ULL + 15000000);  // 1970-01-01 00:00:01.5 UTC
  EXPECT_EQ(ok("get_file_system_entry_info", path_params(dir / "f.bin"))["lastWriteTime"], 1500);
  set_write_time(116444736000000000ULL + 1234567890123ULL * 10000 + 4567);
  EXPECT_EQ(ok("get_file_system_entry_info", path_params(dir / "f.bin"))["lastWriteTime"], 1234567890123ULL);
  set_write_time(116444736000000000ULL - 864000000000ULL);  // a day before 1970
  EXPECT_EQ(ok("get_file_system_entry_info", path_params(dir / "f.bin"))["lastWriteTime"], 0);
}

TEST(EntryInfo, FailuresCarryTheSystemText) {
  TempDir dir;
  std::string missing = error_of("get_file_system_entry_info", path_params(dir / "missing"));
  EXPECT_TRUE(ends_with(missing, " (os error 2)")) << missing;
  EXPECT_GT(missing.size(), std::string(" (os error 2)").size());
  std::string missing_folder = error_of("get_file_system_entry_info", path_params(dir / "no\\such"));
  EXPECT_TRUE(ends_with(missing_folder, " (os error 3)")) << missing_folder;
  EXPECT_EQ(error_of("get_file_system_entry_info", path_params(dir / std::string("a\0b", 3))),
            "strings passed to WinAPI cannot contain NULs");
  std::string too_long = error_of("get_file_system_entry_info", path_params(dir / std::string(300, 'n')));
  EXPECT_NE(too_long.find(" (os error "), std::string::npos) << too_long;
  std::string empty = error_of("get_file_system_entry_info", path_params(""));
  EXPECT_NE(empty.find(" (os error "), std::string::npos) << empty;
}

TEST(CreateDirectoryMethod, CreatesEveryMissingLevel) {
  TempDir dir;
  EXPECT_EQ(ok("create_directory", path_params(dir / "a\\b\\c")), true);
  EXPECT_TRUE(is_dir(dir / "a\\b\\c"));
  EXPECT_EQ(ok("create_directory", path_params(dir / "a\\b\\c")), true);  // already there
  EXPECT_EQ(ok("create_directory", path_params(dir / "x/y/")), true);
  EXPECT_TRUE(is_dir(dir / "x\\y"));
  EXPECT_EQ(ok("create_directory", path_params(dir / "a\\..\\dots\\.\\here")), true);
  EXPECT_TRUE(is_dir(dir / "dots\\here"));

  std::string deep = dir.path();
  while (deep.size() < 600) deep += "\\" + std::string(50, 'L');
  EXPECT_EQ(ok("create_directory", path_params(deep)), true);
  EXPECT_TRUE(is_dir(deep));
}

TEST(CreateDirectoryMethod, Refusals) {
  TempDir dir;
  put_file(dir / "file", "keep");
  EXPECT_EQ(ok("create_directory", path_params(dir / "file")), false);
  EXPECT_EQ(ok("create_directory", path_params(dir / "file\\below")), false);
  EXPECT_EQ(file_bytes(dir / "file"), "keep");
  EXPECT_EQ(ok("create_directory", path_params(dir / std::string(300, 'n'))), false);
  EXPECT_EQ(ok("create_directory", path_params(dir / (std::string(300, 'n') + "\\x"))), false);
  EXPECT_EQ(ok("create_directory", path_params("")), false);
  EXPECT_EQ(ok("create_directory", path_params(dir / std::string("a\0b", 3))), false);
  EXPECT_FALSE(exists(dir / "a"));
}

TEST(RemoveDirectoryMethod, WholeTreesIncludingReadOnlyAndLongPaths) {
  TempDir dir;
  std::string root = dir / "tree";
  make_dir(root);
  std::string deep = root;
  for (int level = 0; level < 8; ++level) {
    deep += "\\" + std::string(45, static_cast<char>('a' + level));
    make_dir(deep);
    put_file(deep + "\\file.txt", "x");
    put_file(deep + "\\ro.txt", "x");
    set_readonly(deep + "\\ro.txt", true);
  }
  ASSERT_GT(deep.size(), 300u);
  for (int i = 0; i < 200; ++i) put_file(root + "\\many" + std::to_string(i), "");
  make_dir(root + "\\empty");
  EXPECT_EQ(ok("remove_directory", path_params(root)), true);
  EXPECT_FALSE(exists(root));
}

TEST(RemoveDirectoryMethod, Refusals) {
  TempDir dir;
  put_file(dir / "file", "keep");
  EXPECT_EQ(ok("remove_directory", path_params(dir / "file")), false);
  EXPECT_EQ(file_bytes(dir / "file"), "keep");
  EXPECT_EQ(ok("remove_directory", path_params(dir / "missing")), false);
  EXPECT_EQ(ok("remove_directory", path_params("")), false);
  EXPECT_EQ(ok("remove_directory", path_params(dir / std::string("a\0b", 3))), false);
}

TEST(RemoveDirectoryMethod, NeverEntersALink) {
  TempDir dir;
  make_dir(dir / "outside");
  put_file(dir / "outside\\precious.txt", "keep");
  make_dir(dir / "tree");
  put_file(dir / "tree\\own.txt", "x");
  std::optional<std::string> unix_dir = unix_path_of(dir.path());
  if (!unix_dir || !make_host_symlink(*unix_dir + "/outside", dir / "tree\\link") ||
      !make_host_symlink(*unix_dir + "/outside", dir / "toplink")) {
    GTEST_SKIP() << "cannot make a host symbolic link here";
  }
  // Whatever the system lets us do with the link itself, what it points to stays.
  ok("remove_directory", path_params(dir / "tree"));
  EXPECT_EQ(file_bytes(dir / "outside\\precious.txt"), "keep");
  ok("remove_directory", path_params(dir / "toplink"));
  EXPECT_EQ(file_bytes(dir / "outside\\precious.txt"), "keep");
}

TEST(DeleteFileMethod, PlainReadOnlyAndRefusals) {
  TempDir dir;
  put_file(dir / "plain", "x");
  EXPECT_EQ(ok("delete_file", path_params(dir / "plain")), true);
  EXPECT_FALSE(exists(dir / "plain"));

  put_file(dir / "readonly", "x");
  set_readonly(dir / "readonly", true);
  EXPECT_EQ(ok("delete_file", path_params(dir / "readonly")), true);
  EXPECT_FALSE(exists(dir / "readonly"));

  EXPECT_EQ(ok("delete_file", path_params(dir / "missing")), false);
  make_dir(dir / "folder");
  EXPECT_EQ(ok("delete_file", path_params(dir / "folder")), false);
  EXPECT_TRUE(is_dir(dir / "folder"));
  EXPECT_EQ(ok("delete_file", path_params("")), false);
  EXPECT_EQ(ok("delete_file", path_params(dir / std::string("plain\0x", 7))), false);
}

TEST(DeleteFileMethod, AFileInUseStays) {
  TempDir dir;
  put_file(dir / "busy", "x");
  set_readonly(dir / "busy", true);
  unique_handle h(
      CreateFileW(to_wide(dir / "busy").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(ok("delete_file", path_params(dir / "busy")), false);
  h.reset();
  EXPECT_TRUE(exists(dir / "busy"));
  // The failed attempt put the read-only attribute back.
  EXPECT_TRUE(attributes_of(dir / "busy") & FILE_ATTRIBUTE_READONLY);
}

TEST(DeleteFileMethod, ARunningProgramStaysReadOnly) {
  // The read-only attribute is lifted for the attempt and must come back when the
  // system still refuses (a program's image cannot be deleted while it runs).
  TempDir dir;
  std::string exe = dir / "running.exe";
  ASSERT_TRUE(
      CopyFileW(to_wide(std::string(QUORVANE_BIN_DIR) + "/files_test_child.exe").c_str(), to_wide(exe).c_str(), FALSE));
  set_readonly(exe, true);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = L"running.exe sleep 3000";
  ASSERT_TRUE(
      CreateProcessW(to_wide(exe).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  bool deleted = ok("delete_file", path_params(exe)).get<bool>();
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_FALSE(deleted);
  EXPECT_TRUE(exists(exe));
  EXPECT_TRUE(attributes_of(exe) & FILE_ATTRIBUTE_READONLY);
}

TEST(CopyFileMethod, CopiesAndReplaces) {
  TempDir dir;
  put_file(dir / "src", "new content");
  put_file(dir / "dst", "old");
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "src"}, {"targetPath", dir / "dst"}}), true);
  EXPECT_EQ(file_bytes(dir / "dst"), "new content");
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "src"}, {"targetPath", dir / "fresh"}}), true);
  EXPECT_EQ(file_bytes(dir / "fresh"), "new content");
  EXPECT_EQ(file_bytes(dir / "src"), "new content");

  make_dir(dir / "folder");
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "missing"}, {"targetPath", dir / "x"}}), false);
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "src"}, {"targetPath", dir / "folder"}}), false);
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "folder"}, {"targetPath", dir / "x"}}), false);
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "src"}, {"targetPath", dir / "no\\such\\x"}}), false);
  EXPECT_FALSE(exists(dir / "x"));
}

TEST(MoveFileMethod, RenamesAndReplaces) {
  TempDir dir;
  put_file(dir / "a", "A");
  put_file(dir / "b", "B");
  EXPECT_EQ(ok("move_file", json{{"sourcePath", dir / "a"}, {"targetPath", dir / "b"}}), true);
  EXPECT_FALSE(exists(dir / "a"));
  EXPECT_EQ(file_bytes(dir / "b"), "A");
  make_dir(dir / "sub");
  EXPECT_EQ(ok("move_file", json{{"sourcePath", dir / "b"}, {"targetPath", dir / "sub\\c"}}), true);
  EXPECT_EQ(file_bytes(dir / "sub\\c"), "A");

  EXPECT_EQ(ok("move_file", json{{"sourcePath", dir / "missing"}, {"targetPath", dir / "x"}}), false);
  EXPECT_EQ(ok("move_file", json{{"sourcePath", dir / "sub\\c"}, {"targetPath", dir / "no\\such\\x"}}), false);
  EXPECT_EQ(file_bytes(dir / "sub\\c"), "A");
  EXPECT_EQ(ok("move_file", json{{"sourcePath", dir / std::string("a\0", 2)}, {"targetPath", dir / "x"}}), false);
}

TEST(MoveFileMethod, AcrossVolumesByCopyAndDelete) {
  if (!is_dir("Z:\\dev\\shm")) GTEST_SKIP() << "no second volume";
  TempDir here;
  TempDir there(L"Z:\\dev\\shm");
  ASSERT_TRUE(there.created());
  put_file(here / "a", std::string(100000, 'q'));
  set_readonly(here / "a", true);  // the delete after the copy must cope with it
  EXPECT_EQ(ok("move_file", json{{"sourcePath", here / "a"}, {"targetPath", there / "a"}}), true);
  EXPECT_FALSE(exists(here / "a"));
  EXPECT_EQ(file_bytes(there / "a"), std::string(100000, 'q'));
}

TEST(MoveFileMethod, ASourceInUseIsCopiedButReportedFalse) {
  TempDir dir;
  put_file(dir / "busy", "B");
  unique_handle h(
      CreateFileW(to_wide(dir / "busy").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  bool moved = ok("move_file", json{{"sourcePath", dir / "busy"}, {"targetPath", dir / "target"}}).get<bool>();
  h.reset();
  // Either the system let the rename through, or the source is still in place.
  EXPECT_EQ(moved, !exists(dir / "busy"));
  EXPECT_EQ(file_bytes(dir / "target"), "B");
}

TEST(MoveFileMethod, RenameByHandleWorksWhereTheExtendedClassIsMissing) {
  TempDir dir;
  put_file(dir / "a", "A");
  put_file(dir / "b", "B");
  std::wstring source = to_wide(dir / "a");
  EXPECT_TRUE(rename_by_handle(source, dir / "b"));
  EXPECT_FALSE(exists(dir / "a"));
  EXPECT_EQ(file_bytes(dir / "b"), "A");
  EXPECT_FALSE(rename_by_handle(source, dir / "c"));
}

}  // namespace
}  // namespace quorvane::files::testing
