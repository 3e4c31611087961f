// Saves on a full disk, through the real host: a failed write, copy, append or capture
// must leave the file it would have replaced exactly as it was, and no stray file
// behind. full_disk.sh mounts a small RAM disk and names it in QUORVANE_FULL_DISK_DIR
// (a Windows path); without it there is nothing to test on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/base64.h"
#include "host_process.h"
#include "win32_test_support.h"

namespace quorvane::files::testing {
namespace {

using standin::HostProcess;

std::optional<std::string> full_disk_folder() {
  const char* folder = std::getenv("QUORVANE_FULL_DISK_DIR");
  if (!folder || !*folder) return std::nullopt;
  return std::string(folder);
}

json result_of(HostProcess& host, std::string_view method, const json& params) {
  json reply = host.call(method, params, 7);
  EXPECT_TRUE(reply.contains("result")) << method << ": " << reply.dump();
  return reply.contains("result") ? reply["result"] : json();
}

std::string error_of(HostProcess& host, std::string_view method, const json& params) {
  json reply = host.call(method, params, 7);
  EXPECT_TRUE(reply.contains("error")) << method << ": " << reply.dump();
  return reply.contains("error") ? reply["error"]["message"].get<std::string>() : std::string();
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileW(to_wide(folder + "\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::string name = from_wide(data.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  find.reset();
  std::sort(names.begin(), names.end());
  return names;
}

// Writes until the disk takes no more; what stays free afterwards is less than a block.
void fill_disk(const std::string& filler) {
  unique_handle h(CreateFileW(to_wide(filler).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(h);
  std::string chunk(4096, 'z');
  DWORD written = 0;
  int rounds = 0;
  while (WriteFile(h.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr) && written > 0) ++rounds;
  for (std::size_t size = chunk.size() / 2; size > 0; size /= 2)
    while (WriteFile(h.get(), chunk.data(), static_cast<DWORD>(size), &written, nullptr) && written > 0) {
    }
  h.reset();
  ASSERT_LT(rounds, 100000) << "the folder is not on a small disk";
}

// Distinct bytes per position, so that a piece of one content can never pass for another.
std::string content(std::size_t size, char seed) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
  return out;
}

TEST(FullDisk, FailedSavesKeepTheOldFileAndSucceedOnceThereIsRoom) {
  std::optional<std::string> folder = full_disk_folder();
  if (!folder) GTEST_SKIP() << "QUORVANE_FULL_DISK_DIR names no small disk (run through full_disk.sh)";
  TempDir work;  // outside the small disk: the source of the copy
  const std::string dir = *folder;
  const std::string text = dir + "\\text.txt", bytes = dir + "\\bytes.bin", log = dir + "\\log.txt";
  const std::string copy = dir + "\\copy.bin", shot = dir + "\\shot.png", fresh = dir + "\\fresh.txt";
  const std::string filler = dir + "\\filler";
  const std::string old_text = content(3000, 1), old_bytes = content(2000, 2), old_log = content(1000, 3);
  const std::string old_copy = content(500, 4), old_shot = "an earlier capture";
  put_file(text, old_text);
  put_file(bytes, old_bytes);
  put_file(log, old_log);
  put_file(copy, old_copy);
  put_file(shot, old_shot);
  const std::string big = content(200000, 5);
  put_file(work / "source.bin", big);
  fill_disk(filler);
  const std::vector<std::string> before = names_in(dir);

  HostProcess host;
  EXPECT_EQ(result_of(host, "write_all_text", json{{"path", text}, {"content", big}}), false);
  EXPECT_EQ(result_of(host, "write_all_bytes", json{{"path", bytes}, {"content", base64_encode(big)}}), false);
  EXPECT_EQ(result_of(host, "append_all_text", json{{"path", log}, {"content", big}}), false);
  EXPECT_EQ(result_of(host, "append_all_bytes", json{{"path", log}, {"content", base64_encode(big)}}), false);
  EXPECT_EQ(result_of(host, "append_all_text", json{{"path", fresh}, {"content", big}}), false);
  EXPECT_EQ(result_of(host, "copy_file", json{{"sourcePath", work / "source.bin"}, {"targetPath", copy}}), false);
  EXPECT_EQ(result_of(host, "move_file", json{{"sourcePath", work / "source.bin"}, {"targetPath", copy}}), false);
  std::string capture = error_of(host, "capture_desktop", json{{"path", shot}});
  // The encoder's write failed: its text, without a path.
  EXPECT_TRUE(capture.starts_with("save_failed: ")) << capture;
  EXPECT_NE(capture.find("(os error 112)"), std::string::npos) << capture;
  EXPECT_EQ(capture.find(shot), std::string::npos) << capture;

  EXPECT_EQ(file_bytes(text), old_text);
  EXPECT_EQ(file_bytes(bytes), old_bytes);
  EXPECT_EQ(file_bytes(log), old_log);
  EXPECT_EQ(file_bytes(copy), old_copy);
  EXPECT_EQ(file_bytes(shot), old_shot);
  EXPECT_EQ(file_bytes(work / "source.bin"), big);  // a failed move keeps its source
  EXPECT_FALSE(exists(fresh));
  EXPECT_EQ(names_in(dir), before);  // nothing half-written left beside them

  // With room again, every save holds exactly the new content.
  ASSERT_TRUE(DeleteFileW(to_wide(filler).c_str()));
  EXPECT_EQ(result_of(host, "write_all_text", json{{"path", text}, {"content", big}}), true);
  EXPECT_EQ(result_of(host, "write_all_bytes", json{{"path", bytes}, {"content", base64_encode("new")}}), true);
  EXPECT_EQ(result_of(host, "append_all_text", json{{"path", log}, {"content", "+tail"}}), true);
  EXPECT_EQ(result_of(host, "copy_file", json{{"sourcePath", work / "source.bin"}, {"targetPath", copy}}), true);
  EXPECT_EQ(result_of(host, "capture_desktop", json{{"path", shot}}), shot);
  EXPECT_EQ(file_bytes(text), big);
  EXPECT_EQ(file_bytes(bytes), "new");
  EXPECT_EQ(file_bytes(log), old_log + "+tail");
  EXPECT_EQ(file_bytes(copy), big);
  std::optional<std::string> png = file_bytes(shot);
  ASSERT_TRUE(png.has_value());
  EXPECT_TRUE(png->starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"bytes.bin", "copy.bin", "log.txt", "shot.png", "text.txt"}));

  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
  for (const std::string& name : names_in(dir)) DeleteFileW(to_wide(dir + "\\" + name).c_str());
}

}  // namespace
}  // namespace quorvane::files::testing
