// Reading the image file of an ocr_image request.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "common/error_text.h"
#include "ocr/image_file_win32.h"

namespace quorvane::ocr {
namespace {

std::string temp_dir() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return dir;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(ImageFile, ReadsWholeFilesOfAnySize) {
  std::string path = temp_dir() + "quorvane_ocr_image_file.bin";
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{200003}}) {
    std::vector<std::uint8_t> content(size);
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    write_file(path, content);
    std::vector<std::uint8_t> read = {1, 2, 3};
    EXPECT_EQ(read_image_file(path, read), std::nullopt) << size;
    EXPECT_EQ(read, content) << size;
  }
  DeleteFileA(path.c_str());
}

TEST(ImageFile, FailuresUseTheSystemErrorText) {
  std::vector<std::uint8_t> bytes;
  std::string dir = temp_dir() + "quorvane_ocr_image_dir";
  CreateDirectoryA(dir.c_str(), nullptr);
  EXPECT_EQ(read_image_file(dir, bytes), system_error_text(ERROR_ACCESS_DENIED));
  RemoveDirectoryA(dir.c_str());
  EXPECT_EQ(read_image_file(temp_dir() + "quorvane_no_such_file.png", bytes), system_error_text(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(read_image_file(std::string("a\0b.png", 7), bytes), "strings passed to WinAPI cannot contain NULs");
}

TEST(ImageFile, PathsBeyondTheClassicLimitAreRead) {
  // A relative path with more than 260 characters, resolved against the current folder.
  std::string base = temp_dir();
  std::wstring wbase(base.begin(), base.end());
  std::wstring deep = L"\\\\?\\" + wbase;
  std::string relative;
  for (int i = 0; i < 6; ++i) {
    std::string part = "quorvane_ocr_long_folder_name_part_" + std::to_string(i) + "_xxxxxxxxxxxxxxxxxx";
    relative += part + "\\";
    deep += std::wstring(part.begin(), part.end()) + L"\\";
    CreateDirectoryW(deep.c_str(), nullptr);
  }
  std::wstring file = deep + L"image.bin";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, "long", 4, &written, nullptr);
  CloseHandle(h);

  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(base.c_str());
  std::string path = relative + "image.bin";
  ASSERT_GT(path.size() + base.size(), 260u);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(read_image_file(path, bytes), std::nullopt);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "long");
  SetCurrentDirectoryA(previous);

  DeleteFileW(file.c_str());
  for (int i = 0; i < 6; ++i) {
    RemoveDirectoryW(deep.c_str());
    deep.resize(deep.rfind(L'\\', deep.size() - 2) + 1);
  }
}

}  // namespace
}  // namespace quorvane::ocr
