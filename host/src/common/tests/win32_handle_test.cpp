#include <gtest/gtest.h>

#include <utility>

#include "common/win32_handle.h"

namespace quorvane {
namespace {

// True while `h` names an open kernel object of this process.
bool is_open(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

HANDLE new_event() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(Win32Handle, EachKernelHandleIsClosedOnceByItsLastOwner) {
  const HANDLE first = new_event();
  ASSERT_TRUE(first);
  {
    unique_handle a(first);
    unique_handle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(b.get(), first);
    EXPECT_TRUE(is_open(first));

    // Taking over another handle gives back the one held before.
    const HANDLE second = new_event();
    ASSERT_TRUE(second);
    b = unique_handle(second);
    EXPECT_FALSE(is_open(first));
    EXPECT_TRUE(is_open(second));

    // A handle released to the caller stays open.
    const HANDLE kept = b.release();
    EXPECT_FALSE(b);
    EXPECT_TRUE(is_open(kept));
    b.reset(kept);
  }
  EXPECT_FALSE(is_open(first));
}

TEST(Win32Handle, FailedOpensOwnNothing) {
  // CreateFileW fails with INVALID_HANDLE_VALUE, other calls with null; neither is live.
  unique_handle missing(
      CreateFileW(L"Z:\\quorvane\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing);
  EXPECT_FALSE(unique_handle(nullptr));
  EXPECT_FALSE(unique_find());
  EXPECT_EQ(unique_find().get(), INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAW data;
  EXPECT_FALSE(unique_find(FindFirstFileW(L"Z:\\quorvane\\no\\such\\folder\\*", &data)));
}

TEST(Win32Handle, ASearchIsClosedWithItsOwner) {
  wchar_t windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileW((std::wstring(windows) + L"\\*").c_str(), &data));
  ASSERT_TRUE(find);
  const HANDLE raw = find.get();
  EXPECT_TRUE(FindNextFileW(raw, &data));
  find.reset();
  EXPECT_FALSE(find);
  EXPECT_FALSE(FindNextFileW(raw, &data));
}

TEST(Win32Handle, GdiOwnersGiveBackDcAndBitmapInOrder) {
  WindowDc screen(nullptr);
  ASSERT_TRUE(screen.get());
  unique_hdc memory(CreateCompatibleDC(screen.get()));
  unique_hbitmap bitmap(CreateCompatibleBitmap(screen.get(), 4, 4));
  ASSERT_TRUE(memory && bitmap);
  {
    SelectionGuard selection(memory.get(), bitmap.get());
    EXPECT_TRUE(selection.selected());
    EXPECT_EQ(GetCurrentObject(memory.get(), OBJ_BITMAP), bitmap.get());
  }
  // The guard put the context's own bitmap back, so ours can be deleted.
  EXPECT_NE(GetCurrentObject(memory.get(), OBJ_BITMAP), bitmap.get());
  const HBITMAP raw = bitmap.get();
  bitmap.reset();
  EXPECT_EQ(GetObjectType(raw), 0u);
}

}  // namespace
}  // namespace quorvane
