// The file content methods on the real (Wine) file system.
#include <gtest/gtest.h>
#include <windows.h>
// winioctl.h needs the types of windows.h.
#include <winioctl.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "common/base64.h"
#include "win32_test_support.h"

namespace quorvane::files::testing {
namespace {

json path_params(const std::string& path) { return json{{"path", path}}; }
json write_params(const std::string& path, std::string_view content) {
  return json{{"path", path}, {"content", std::string(content)}};
}

std::string pattern_bytes(std::size_t n) {
  std::string out(n, '\0');
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return out;
}

TEST(TextFiles, RoundTripKeepsEveryByte) {
  TempDir dir;
  const std::string text = "\xEF\xBB\xBFline one\r\nline two\n\xE2\x82\xAC \xF0\x9F\x98\x80";
  EXPECT_EQ(ok("write_all_text", write_params(dir / "t.txt", text)), true);
  EXPECT_EQ(file_bytes(dir / "t.txt"), text);
  json read = ok("read_all_text", path_params(dir / "t.txt"));
  EXPECT_EQ(read["errorCode"], 0);
  EXPECT_EQ(read["content"], text);  // the byte-order mark arrives as U+FEFF
  // Replacing truncates; empty content leaves an empty file.
  EXPECT_EQ(ok("write_all_text", write_params(dir / "t.txt", "short")), true);
  EXPECT_EQ(file_bytes(dir / "t.txt"), "short");
  EXPECT_EQ(ok("write_all_text", write_params(dir / "t.txt", "")), true);
  EXPECT_EQ(file_bytes(dir / "t.txt"), "");
  EXPECT_EQ(ok("read_all_text", path_params(dir / "t.txt")).dump(), R"({"content":"","errorCode":0})");
}

TEST(TextFiles, ReadFailuresAreEnvelopes) {
  TempDir dir;
  put_file(dir / "latin1.txt", "caf\xE9");
  make_dir(dir / "folder");
  for (const std::string& path : {dir / "latin1.txt", dir / "missing", dir / "folder", std::string(),
                                  dir / std::string("a\0b", 3), dir / std::string(300, 'n')}) {
    EXPECT_EQ(ok("read_all_text", path_params(path)).dump(), R"({"content":"","errorCode":1})") << path;
  }
  for (const std::string& path : {dir / "missing", dir / "folder", std::string()}) {
    EXPECT_EQ(ok("read_all_bytes", path_params(path)).dump(), R"({"content":"","errorCode":1})") << path;
  }
}

TEST(ByteFiles, RoundTripOfEveryByteValue) {
  TempDir dir;
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += pattern_bytes(70000);
  EXPECT_EQ(ok("write_all_bytes", write_params(dir / "b.bin", base64_encode(all))), true);
  EXPECT_EQ(file_bytes(dir / "b.bin"), all);
  json read = ok("read_all_bytes", path_params(dir / "b.bin"));
  EXPECT_EQ(read["errorCode"], 0);
  EXPECT_EQ(read["content"], base64_encode(all));
  EXPECT_EQ(ok("write_all_bytes", write_params(dir / "b.bin", "")), true);
  EXPECT_EQ(file_bytes(dir / "b.bin"), "");
}

TEST(ByteFiles, BadBase64TouchesNoFile) {
  TempDir dir;
  put_file(dir / "keep.bin", "original");
  for (const char* bad : {"QQ", "QQ=", "QR==", "Q===", "QQ==QQ==", "QU Ja", "QUJj\n", "****"}) {
    for (const char* method : {"write_all_bytes", "append_all_bytes"}) {
      EXPECT_EQ(ok(method, write_params(dir / "keep.bin", bad)), false) << method << " " << bad;
      EXPECT_EQ(ok(method, write_params(dir / "new.bin", bad)), false) << method << " " << bad;
    }
  }
  EXPECT_EQ(file_bytes(dir / "keep.bin"), "original");
  EXPECT_FALSE(exists(dir / "new.bin"));
}

TEST(Appending, CreatesThenAddsToTheEnd) {
  TempDir dir;
  EXPECT_EQ(ok("append_all_text", write_params(dir / "log.txt", "one\n")), true);
  EXPECT_EQ(ok("append_all_text", write_params(dir / "log.txt", "two\n")), true);
  EXPECT_EQ(ok("append_all_bytes", write_params(dir / "log.txt", base64_encode(std::string("\0\xFF", 2)))), true);
  EXPECT_EQ(ok("append_all_text", write_params(dir / "log.txt", "")), true);
  EXPECT_EQ(file_bytes(dir / "log.txt"), std::string("one\ntwo\n\0\xFF", 10));
  EXPECT_EQ(ok("append_all_bytes", write_params(dir / "fresh.bin", "AAE=")), true);
  EXPECT_EQ(file_bytes(dir / "fresh.bin"), std::string("\0\x01", 2));
}

TEST(Writing, Refusals) {
  TempDir dir;
  make_dir(dir / "folder");
  for (const char* method : {"write_all_text", "append_all_text"}) {
    for (const std::string& path : {dir / "no\\such\\f.txt", dir / "folder", std::string(),
                                    dir / std::string("a\0b", 3), dir / std::string(300, 'n')}) {
      EXPECT_EQ(ok(method, write_params(path, "x")), false) << method << " " << path;
    }
  }
  EXPECT_FALSE(exists(dir / "a"));
  // A file another process holds without sharing it.
  put_file(dir / "held.txt", "held");
  unique_handle h(CreateFileW(to_wide(dir / "held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  for (const char* method : {"write_all_text", "append_all_text", "write_all_bytes", "append_all_bytes"}) {
    EXPECT_EQ(ok(method, write_params(dir / "held.txt", "QUJD")), false) << method;
  }
  EXPECT_EQ(ok("read_all_text", path_params(dir / "held.txt")).dump(), R"({"content":"","errorCode":1})");
  h.reset();
  EXPECT_EQ(file_bytes(dir / "held.txt"), "held");
}

TEST(Writing, HiddenFilesCanBeReplacedAndStayHidden) {
  TempDir dir;
  put_file(dir / "hidden.txt", "old content");
  SetFileAttributesW(to_wide(dir / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(ok("write_all_text", write_params(dir / "hidden.txt", "new")), true);
  EXPECT_EQ(file_bytes(dir / "hidden.txt"), "new");
  EXPECT_TRUE(attributes_of(dir / "hidden.txt") & FILE_ATTRIBUTE_HIDDEN);
}

// Every entry of a folder, to show that nothing was left beside a written file.
std::vector<std::string> entries_of(const std::string& folder) {
  return ok("get_file_system_entries", path_params(folder))["entries"].get<std::vector<std::string>>();
}

TEST(Writing, ReplacingKeepsWhatTheUserSees) {
  TempDir dir;
  // A link is written through, not replaced by a file of its own.
  put_file(dir / "real.txt", "old");
  std::optional<std::string> real_unix = unix_path_of(dir / "real.txt");
  if (real_unix && make_host_symlink(*real_unix, dir / "link.txt")) {
    EXPECT_EQ(ok("write_all_text", write_params(dir / "link.txt", "through the link")), true);
    EXPECT_EQ(file_bytes(dir / "real.txt"), "through the link");
    put_file(dir / "other.txt", "copied through the link");
    EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "other.txt"}, {"targetPath", dir / "link.txt"}}), true);
    EXPECT_EQ(file_bytes(dir / "real.txt"), "copied through the link");
    // Still a link: what is written to the file shows through it.
    put_file(dir / "real.txt", "changed");
    EXPECT_EQ(file_bytes(dir / "link.txt"), "changed");
    EXPECT_EQ(entries_of(dir.path()), (std::vector<std::string>{"link.txt", "other.txt", "real.txt"}));
  }
  // Another program that shares writing (but not deletion) does not stop a rewrite,
  // and sees the new content at once through its open handle.
  put_file(dir / "shared.txt", "old content, longer");
  unique_handle reader(CreateFileW(to_wide(dir / "shared.txt").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader);
  EXPECT_EQ(ok("write_all_text", write_params(dir / "shared.txt", "new")), true);
  EXPECT_EQ(ok("write_all_bytes", write_params(dir / "shared.txt", base64_encode("newer content, longer still"))),
            true);
  char seen[64] = {};
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(reader.get(), seen, sizeof seen, &n, nullptr));
  EXPECT_EQ(std::string(seen, n), "newer content, longer still");
  reader.reset();
  EXPECT_EQ(file_bytes(dir / "shared.txt"), "newer content, longer still");
  // Copies refuse hidden and read-only targets, as the system's copy does.
  put_file(dir / "hidden.txt", "hidden");
  SetFileAttributesW(to_wide(dir / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  put_file(dir / "locked.txt", "locked");
  set_readonly(dir / "locked.txt", true);
  for (const char* target : {"hidden.txt", "locked.txt"}) {
    EXPECT_EQ(ok("copy_file", json{{"sourcePath", dir / "shared.txt"}, {"targetPath", dir / target}}), false);
  }
  EXPECT_EQ(ok("write_all_text", write_params(dir / "locked.txt", "x")), false);
  EXPECT_EQ(file_bytes(dir / "hidden.txt"), "hidden");
  EXPECT_EQ(file_bytes(dir / "locked.txt"), "locked");
  set_readonly(dir / "locked.txt", false);
  std::vector<std::string> names = entries_of(dir.path());
  std::erase_if(names, [](const std::string& name) { return name == "link.txt" || name == "other.txt"; });
  EXPECT_EQ(names, (std::vector<std::string>{"hidden.txt", "locked.txt", "real.txt", "shared.txt"}));
}

TEST(Writing, LongPaths) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 350) deep += "\\" + std::string(60, 'p');
  EXPECT_EQ(ok("create_directory", path_params(deep)), true);
  std::string file = deep + "\\content.txt";
  EXPECT_EQ(ok("write_all_text", write_params(file, "far away")), true);
  EXPECT_EQ(ok("append_all_text", write_params(file, "!")), true);
  EXPECT_EQ(ok("read_all_text", path_params(file))["content"], "far away!");
  EXPECT_EQ(ok("get_file_size", path_params(file)), 9);
  EXPECT_EQ(ok("read_file_range", path_params(file))["buffer"], base64_encode("far away!"));
  EXPECT_EQ(ok("copy_file", json{{"sourcePath", file}, {"targetPath", file + ".copy"}}), true);
  EXPECT_EQ(ok("move_file", json{{"sourcePath", file + ".copy"}, {"targetPath", file + ".moved"}}), true);
  EXPECT_EQ(ok("delete_file", path_params(file + ".moved")), true);
  EXPECT_EQ(ok("get_files", path_params(deep))["entries"], (std::vector<std::string>{"content.txt"}));
}

TEST(Handles, NoMethodLeavesAFileOpen) {
  TempDir dir;
  std::string f = dir / "f.txt";
  put_file(f, "abc");
  const std::pair<const char*, json> calls[] = {
      {"read_all_text", path_params(f)},
      {"read_all_bytes", path_params(f)},
      {"get_file_size", path_params(f)},
      {"get_file_system_entry_info", path_params(f)},
      {"file_exists", path_params(f)},
      {"read_file_range", json{{"path", f}, {"rangeStart", 1}}},
      {"read_file_range", json{{"path", f}, {"rangeStart", 100}}},
      {"write_all_text", write_params(f, "new")},
      {"append_all_text", write_params(f, "more")},
      {"write_all_bytes", write_params(f, "QUJD")},
      {"append_all_bytes", write_params(f, "QUJD")},
      {"copy_file", json{{"sourcePath", f}, {"targetPath", dir / "copy"}}},
      {"get_files", path_params(dir.path())},
  };
  for (const auto& [method, params] : calls) {
    call(method, params);
    EXPECT_TRUE(nobody_holds(f)) << method;
  }
  EXPECT_TRUE(nobody_holds(dir / "copy"));
  // A refused open leaves nothing behind either.
  unique_handle h(CreateFileW(to_wide(f).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(ok("write_all_text", write_params(f, "x")), false);
  EXPECT_EQ(ok("append_all_text", write_params(f, "x")), false);
  h.reset();
  EXPECT_TRUE(nobody_holds(f));
}

// Counts the open Unix descriptors of this process; Wine keeps one per open file
// handle, so a leaked handle shows up here.
std::optional<int> unix_descriptor_count() {
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileW(L"Z:\\proc\\self\\fd\\*", &data));
  if (!find) return std::nullopt;
  int n = 0;
  do ++n;
  while (FindNextFileW(find.get(), &data));
  return n;
}

TEST(Handles, AWriteThatFailsMidwayClosesItsFile) {
  if (!unix_descriptor_count()) GTEST_SKIP() << "no descriptor list here";
  std::string big = base64_encode(std::string(1 << 20, 'f'));
  int before = *unix_descriptor_count();
  constexpr int kRounds = 20;
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(ok("write_all_bytes", write_params("Z:\\dev\\full", big)), false);
    EXPECT_EQ(ok("append_all_bytes", write_params("Z:\\dev\\full", big)), false);
    EXPECT_EQ(ok("append_all_text", write_params("Z:\\dev\\full", "x")), false);
  }
  // Wine itself opens a descriptor now and then; a leak would add one per call.
  EXPECT_LE(*unix_descriptor_count(), before + 2);
}

TEST(Sizes, FilesFoldersAndFailures) {
  TempDir dir;
  put_file(dir / "f", std::string(777, 'x'));
  make_dir(dir / "folder");
  EXPECT_EQ(ok("get_file_size", path_params(dir / "f")), 777);
  EXPECT_TRUE(ok("get_file_size", path_params(dir / "folder")).is_number_unsigned());
  std::string missing = error_of("get_file_size", path_params(dir / "missing"));
  EXPECT_TRUE(ends_with(missing, " (os error 2)")) << missing;
  EXPECT_EQ(error_of("get_file_size", path_params(std::string("a\0", 2))),
            "strings passed to WinAPI cannot contain NULs");
}

TEST(Ranges, MegabyteFileInPieces) {
  TempDir dir;
  std::string data = pattern_bytes(1000000);
  put_file(dir / "m.bin", data);
  auto range = [&](const json& start) {
    json params = path_params(dir / "m.bin");
    if (!start.is_null()) params["rangeStart"] = start;
    return ok("read_file_range", params);
  };
  json first = range(0);
  EXPECT_EQ(first["buffer"], base64_encode(data.substr(0, 524288)));
  EXPECT_EQ(first["rangeEnd"], 524288);
  EXPECT_EQ(first["rangeStart"], 0);
  json second = range(524288);
  EXPECT_EQ(second["buffer"], base64_encode(data.substr(524288)));
  EXPECT_EQ(second["rangeEnd"], 1000000);
  EXPECT_EQ(range(1000000).dump(), R"({"buffer":"","rangeEnd":1000000,"rangeStart":1000000})");
  EXPECT_EQ(range(2000000).dump(), R"({"buffer":"","rangeEnd":2000000,"rangeStart":2000000})");
  EXPECT_EQ(range(999999)["buffer"], base64_encode(data.substr(999999)));
  for (const json& odd : {json(-5), json(1.5), json("10"), json(true), json()}) {
    json r = range(odd);
    EXPECT_EQ(r["rangeStart"], 0) << odd.dump();
    EXPECT_EQ(r["rangeEnd"], 524288) << odd.dump();
  }
  EXPECT_EQ(ok("get_max_file_range", json{{"path", 1}}), 524288);
}

// Content `version` of a file: every byte says which version and which offset it
// belongs to, so a read that mixes versions is caught.
char version_byte(int version, std::size_t offset) { return static_cast<char>((offset * 31 + version * 97) % 251); }
std::string version_bytes(int version, std::size_t from, std::size_t to) {
  std::string out(to - from, '\0');
  for (std::size_t i = from; i < to; ++i) out[i - from] = version_byte(version, i);
  return out;
}

TEST(Ranges, AFileRewrittenAndExtendedWhileItIsRead) {
  TempDir dir;
  const std::string path = dir / "moving.bin";
  constexpr std::size_t kBase = 700000;  // more than one range
  put_file(path, version_bytes(0, 0, kBase));
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::thread writer([&] {
    for (int version = 1; !stop; ++version) {
      // A new version of another length, then grown at its end with more of itself.
      std::size_t size = kBase - 100000 + static_cast<std::size_t>(version % 5) * 50000;
      if (call("write_all_bytes", write_params(path, base64_encode(version_bytes(version, 0, size)))).value() != true)
        break;
      for (int grow = 0; grow < 3 && !stop; ++grow, size += 4099) {
        call("append_all_bytes", write_params(path, base64_encode(version_bytes(version, size, size + 4099))));
      }
      ++writes;
    }
  });
  int reads = 0, mixed = 0, failures = 0;
  std::string first_mixed;
  const auto until = GetTickCount64() + 3000;
  while (GetTickCount64() < until || writes < 5) {
    for (std::uint64_t start : {std::uint64_t{0}, std::uint64_t{524288}, std::uint64_t{3}}) {
      Sleep(1);  // a client's round trip between requests
      HandlerResult r = call("read_file_range", json{{"path", path}, {"rangeStart", start}});
      ++reads;
      if (!r.ok()) {
        // What a file cut short under the read gives; the writes here never do that.
        ++failures;
        EXPECT_EQ(r.error(), "failed to fill whole buffer");
        continue;
      }
      std::vector<std::uint8_t> buffer;
      ASSERT_TRUE(base64_decode(r.value()["buffer"].get<std::string>(), buffer).ok());
      ASSERT_EQ(r.value()["rangeEnd"], start + buffer.size());
      ASSERT_LE(buffer.size(), 524288u);
      if (buffer.empty()) continue;
      // All bytes from one version: the first byte names the candidates.
      std::string got(buffer.begin(), buffer.end());
      bool consistent = false;
      for (int version = 0; version < 251 && !consistent; ++version) {
        if (got[0] == version_byte(version, start))
          consistent = got == version_bytes(version, start, start + got.size());
      }
      if (!consistent && mixed++ == 0)
        first_mixed = "start " + std::to_string(start) + ", " + std::to_string(got.size()) + " bytes";
    }
  }
  stop = true;
  writer.join();
  EXPECT_GE(writes, 5);
  // A rewrite takes the file's place whole, and a reader that has it open keeps what it
  // opened: no read mixes two contents or finds the file cut short.
  EXPECT_EQ(mixed, 0) << "reads mixing two contents: " << mixed << " of " << reads << ", first at " << first_mixed;
  EXPECT_EQ(failures, 0) << "reads of a file cut short: " << failures << " of " << reads;
  EXPECT_EQ(entries_of(dir.path()), (std::vector<std::string>{"moving.bin"}));
  std::printf("%d ranged reads against %d rewrites: %d failed as shrunk\n", reads, writes.load(), failures);
}

TEST(Ranges, Failures) {
  TempDir dir;
  make_dir(dir / "folder");
  put_file(dir / "empty", "");
  std::string missing = error_of("read_file_range", path_params(dir / "missing"));
  EXPECT_TRUE(ends_with(missing, " (os error 2)")) << missing;
  EXPECT_EQ(ok("read_all_bytes", path_params(dir / "missing")).dump(), R"({"content":"","errorCode":1})");
  std::string folder = error_of("read_file_range", path_params(dir / "folder"));
  EXPECT_NE(folder.find(" (os error "), std::string::npos) << folder;
  EXPECT_EQ(error_of("read_file_range", path_params(std::string("x\0", 2))),
            "strings passed to WinAPI cannot contain NULs");
  EXPECT_EQ(ok("read_file_range", path_params(dir / "empty")).dump(), R"({"buffer":"","rangeEnd":0,"rangeStart":0})");
}

TEST(Ranges, SparseFileBeyondTwoGigabytes) {
  TempDir dir;
  std::string path = dir / "sparse.bin";
  const std::uint64_t size = (1ULL << 31) + 3000000;  // past every 32-bit signed offset
  {
    unique_handle h(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(h);
    DWORD ignored = 0;
    DeviceIoControl(h.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    auto write_at = [&](std::uint64_t offset, std::string_view bytes) {
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(offset);
      ASSERT_TRUE(SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN));
      DWORD n = 0;
      ASSERT_TRUE(WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
    };
    write_at((1ULL << 31) - 3, "MARK");
    write_at(size - 3, "END");
  }
  EXPECT_EQ(ok("get_file_size", path_params(path)), size);
  json around = ok("read_file_range", json{{"path", path}, {"rangeStart", (1ULL << 31) - 5}});
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(base64_decode(around["buffer"].get<std::string>(), bytes).ok());
  ASSERT_EQ(bytes.size(), 524288u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 7), std::string("\0\0MARK\0", 7));
  EXPECT_EQ(around["rangeEnd"], (1ULL << 31) - 5 + 524288);

  json tail = ok("read_file_range", json{{"path", path}, {"rangeStart", size - 10}});
  EXPECT_EQ(tail["buffer"], base64_encode(std::string(7, '\0') + "END"));
  EXPECT_EQ(tail["rangeEnd"], size);
  // Walking the last few ranges the way a client does ends where the file ends.
  std::uint64_t at = size - 3 * 524288 - 17;
  int steps = 0;
  for (;;) {
    json r = ok("read_file_range", json{{"path", path}, {"rangeStart", at}});
    if (r["buffer"] == "") break;
    at = r["rangeEnd"].get<std::uint64_t>();
    ++steps;
  }
  EXPECT_EQ(at, size);
  EXPECT_EQ(steps, 4);
}

}  // namespace
}  // namespace quorvane::files::testing
