#include <gtest/gtest.h>

#include "files/long_path.h"

namespace quorvane::files {
namespace {

TEST(LongPath, SwitchHappensAtTheFolderCreationLimit) {
  // 246 units plus the terminator fit below 248; one more does not.
  std::u16string path = u"C:\\" + std::u16string(243, u'a');
  ASSERT_EQ(path.size(), 246u);
  EXPECT_FALSE(needs_verbatim_form(path));
  path += u'a';
  EXPECT_TRUE(needs_verbatim_form(path));
  EXPECT_TRUE(needs_verbatim_form(u"relative\\" + std::u16string(300, u'b')));
  EXPECT_FALSE(needs_verbatim_form(u"\\\\?\\C:\\" + std::u16string(300, u'b')));
  EXPECT_FALSE(needs_verbatim_form(u"\\??\\C:\\" + std::u16string(300, u'b')));
  EXPECT_FALSE(needs_verbatim_form(u""));
}

TEST(LongPath, VerbatimFormOfFullPaths) {
  EXPECT_EQ(verbatim_form(u"C:\\dir\\file"), u"\\\\?\\C:\\dir\\file");
  EXPECT_EQ(verbatim_form(u"z:\\tmp"), u"\\\\?\\z:\\tmp");
  EXPECT_EQ(verbatim_form(u"\\\\server\\share\\x"), u"\\\\?\\UNC\\server\\share\\x");
  EXPECT_EQ(verbatim_form(u"\\\\.\\C:\\x"), u"\\\\?\\C:\\x");
  EXPECT_EQ(verbatim_form(u"\\\\?\\C:\\x"), u"\\\\?\\C:\\x");
  EXPECT_EQ(verbatim_form(u"\\??\\C:\\x"), u"\\??\\C:\\x");
  // Not something the full-path service returns; left alone rather than guessed at.
  EXPECT_EQ(verbatim_form(u"C:x"), u"C:x");
}

TEST(LongPath, ListingPattern) {
  EXPECT_EQ(listing_pattern(u"C:\\dir"), u"C:\\dir\\*");
  EXPECT_EQ(listing_pattern(u"C:\\dir\\"), u"C:\\dir\\*");
  EXPECT_EQ(listing_pattern(u"C:/dir/"), u"C:/dir/*");
  EXPECT_EQ(listing_pattern(u"C:\\"), u"C:\\*");
  EXPECT_EQ(listing_pattern(u"C:"), u"C:*");  // the drive's current folder
  EXPECT_EQ(listing_pattern(u"rel"), u"rel\\*");
}

TEST(LongPath, ParentFolderStopsAtTheRoot) {
  EXPECT_EQ(parent_folder(u"C:\\a\\b"), u"C:\\a");
  EXPECT_EQ(parent_folder(u"C:\\a\\b\\\\"), u"C:\\a");
  EXPECT_EQ(parent_folder(u"C:\\a"), u"C:\\");
  EXPECT_EQ(parent_folder(u"C:\\"), u"");
  EXPECT_EQ(parent_folder(u"C:/a/b"), u"C:/a");
  EXPECT_EQ(parent_folder(u"a\\b"), u"a");
  EXPECT_EQ(parent_folder(u"a"), u"");
  EXPECT_EQ(parent_folder(u"\\a"), u"\\");
  EXPECT_EQ(parent_folder(u"\\\\server\\share\\a"), u"\\\\server\\share\\");
  EXPECT_EQ(parent_folder(u"\\\\server\\share\\"), u"");
  EXPECT_EQ(parent_folder(u"\\\\?\\C:\\a\\b"), u"\\\\?\\C:\\a");
  EXPECT_EQ(parent_folder(u"\\\\?\\C:\\a"), u"\\\\?\\C:\\");
  EXPECT_EQ(parent_folder(u"\\\\?\\C:\\"), u"");
  EXPECT_EQ(parent_folder(u"\\\\?\\UNC\\srv\\share\\a"), u"\\\\?\\UNC\\srv\\share\\");
}

TEST(LongPath, VolumeRoots) {
  for (const char16_t* root : {u"C:\\", u"c:/", u"C:\\\\", u"\\\\server\\share", u"\\\\server\\share\\", u"\\\\?\\C:\\",
                               u"\\\\?\\UNC\\srv\\share\\", u"\\", u"/"}) {
    EXPECT_TRUE(is_volume_root(root)) << std::string(root, root + std::char_traits<char16_t>::length(root));
  }
  for (const char16_t* inner : {u"C:\\a", u"C:\\a\\", u"\\\\server\\share\\x", u"\\\\?\\C:\\tmp", u"/tmp"}) {
    EXPECT_FALSE(is_volume_root(inner)) << std::string(inner, inner + std::char_traits<char16_t>::length(inner));
  }
}

TEST(LongPath, JoinAddsOneSeparator) {
  EXPECT_EQ(join_path(u"C:\\a", u"b"), u"C:\\a\\b");
  EXPECT_EQ(join_path(u"C:\\a\\", u"b"), u"C:\\a\\b");
  EXPECT_EQ(join_path(u"C:\\a/", u"b"), u"C:\\a/b");
  EXPECT_EQ(join_path(u"C:", u"b"), u"C:b");
  EXPECT_EQ(join_path(u"", u"b"), u"b");
}

}  // namespace
}  // namespace quorvane::files
