#include <gtest/gtest.h>

#include "files/listing.h"

namespace quorvane::files {
namespace {

constexpr std::uint32_t kFile = 0x20;
constexpr std::uint32_t kDir = kAttributeDirectory;
constexpr std::uint32_t kLinkDir = kAttributeDirectory | kAttributeReparsePoint;
constexpr std::uint32_t kSymlinkTag = 0xA000000C;
constexpr std::uint32_t kJunctionTag = 0xA0000003;
constexpr std::uint32_t kCloudTag = 0x9000601A;  // a placeholder folder: a real folder

using Names = std::vector<std::string>;

TEST(Listing, WhatCountsAsADirectory) {
  EXPECT_TRUE(counts_as_directory(kDir, 0));
  EXPECT_FALSE(counts_as_directory(kFile, 0));
  EXPECT_FALSE(counts_as_directory(kLinkDir, kSymlinkTag));
  EXPECT_FALSE(counts_as_directory(kLinkDir, kJunctionTag));
  EXPECT_TRUE(counts_as_directory(kLinkDir, kCloudTag));
  // A reparse point the system gave no tag for (Wine's view of a host symlink).
  EXPECT_FALSE(counts_as_directory(kLinkDir, 0));
  EXPECT_FALSE(counts_as_directory(kFile | kAttributeReparsePoint, kSymlinkTag));
}

TEST(Listing, ExtensionFilterFromParams) {
  EXPECT_EQ(extension_filter(json::parse(R"({"extensions":[".PNG","jpg",5,"..Tar.GZ","",".",null]})")),
            (Names{"png", "jpg", "tar.gz", "", ""}));
  EXPECT_TRUE(extension_filter(json::parse(R"({"extensions":"png"})")).empty());
  EXPECT_TRUE(extension_filter(json::parse(R"({"extensions":[1,{}]})")).empty());
  EXPECT_TRUE(extension_filter(json::parse(R"({})")).empty());
  EXPECT_TRUE(extension_filter(json::parse(R"([["png"]])")).empty());
  EXPECT_EQ(extension_filter(json::parse(R"({"extensions":["ΣΑΣ","\u0130"]})")), (Names{"σας", "i\u0307"}));
}

TEST(Listing, ExtensionMatchIsASuffixAfterADot) {
  const Names txt{"txt"};
  EXPECT_TRUE(passes_extension_filter("a.TXT", txt));
  EXPECT_TRUE(passes_extension_filter("a.b.txt", txt));
  EXPECT_FALSE(passes_extension_filter("atxt", txt));
  EXPECT_FALSE(passes_extension_filter("txt", txt));
  EXPECT_FALSE(passes_extension_filter("a.txt2", txt));
  EXPECT_TRUE(passes_extension_filter(".txt", txt));
  EXPECT_TRUE(passes_extension_filter("archive.tar.gz", Names{"gz"}));
  EXPECT_TRUE(passes_extension_filter("archive.tar.gz", Names{"tar.gz"}));
  EXPECT_FALSE(passes_extension_filter("archivetar.gz", Names{"tar.gz"}));
  // An empty extension (from "." in the request) matches names that end with a dot.
  EXPECT_TRUE(passes_extension_filter("odd.", Names{""}));
  EXPECT_FALSE(passes_extension_filter("odd", Names{""}));
  // The first match is enough; an empty filter lets everything through.
  EXPECT_TRUE(passes_extension_filter("x.jpg", Names{"png", "jpg"}));
  EXPECT_TRUE(passes_extension_filter("anything", Names{}));
  // Lower-casing of the name is the full Unicode one.
  EXPECT_TRUE(passes_extension_filter("FOTO.ÉTÉ", Names{"été"}));
  EXPECT_TRUE(passes_extension_filter("X.\u0130MG", Names{"i\u0307mg"}));
}

std::vector<RawEntry> sample_folder() {
  return {
      {".", kDir, 0},
      {"..", kDir, 0},
      {"a.txt", kFile, 0},
      {"B.txt", kFile, 0},
      {"sub", kDir, 0},
      {"link", kLinkDir, kSymlinkTag},
      {"junction.png", kLinkDir, kJunctionTag},
      {"pic.PNG", kFile, 0},
      {"cloud", kLinkDir, kCloudTag},
      {"é.jpg", kFile, 0},
      {"Z.jpg", kFile, 0},
  };
}

TEST(Listing, FilesDirectoriesAndEntries) {
  EXPECT_EQ(select_entries(sample_folder(), ListingKind::Files, {}),
            (Names{"B.txt", "Z.jpg", "a.txt", "junction.png", "link", "pic.PNG", "é.jpg"}));
  EXPECT_EQ(select_entries(sample_folder(), ListingKind::Directories, {}), (Names{"cloud", "sub"}));
  EXPECT_EQ(select_entries(sample_folder(), ListingKind::Entries, {}),
            (Names{"B.txt", "Z.jpg", "a.txt", "cloud", "junction.png", "link", "pic.PNG", "sub", "é.jpg"}));
  // Folders always pass the filter; links only by their name.
  EXPECT_EQ(select_entries(sample_folder(), ListingKind::Entries, Names{"png", "jpg"}),
            (Names{"Z.jpg", "cloud", "junction.png", "pic.PNG", "sub", "é.jpg"}));
}

TEST(Listing, SortIsByUtf8Bytes) {
  std::vector<RawEntry> entries{{"b", kFile, 0}, {"\xE2\x82\xAC", kFile, 0}, {"B", kFile, 0},
                                {"a", kFile, 0}, {"\xC3\xA9", kFile, 0},     {"_", kFile, 0}};
  EXPECT_EQ(select_entries(entries, ListingKind::Files, {}), (Names{"B", "_", "a", "b", "\xC3\xA9", "\xE2\x82\xAC"}));
}

TEST(Listing, EnvelopeShape) {
  EXPECT_EQ(listing_envelope({"x"}, 0).dump(), R"({"entries":["x"],"errorCode":0})");
  EXPECT_EQ(listing_envelope({}, 1).dump(), R"({"entries":[],"errorCode":1})");
}

TEST(Listing, FailedEntriesAreSkippedButNeverForever) {
  // Scripted answers of the system's "next entry" call.
  auto run = [](std::vector<NextEntry> script, bool then_fail_forever) {
    std::size_t calls = 0, delivered = 0;
    read_remaining_entries([&] {
      NextEntry answer =
          calls < script.size() ? script[calls] : (then_fail_forever ? NextEntry::Failed : NextEntry::End);
      ++calls;
      if (answer == NextEntry::Delivered) ++delivered;
      return answer;
    });
    return std::pair{calls, delivered};
  };
  using N = NextEntry;
  EXPECT_EQ(run({N::Delivered, N::Failed, N::Delivered, N::End}, false), (std::pair<std::size_t, std::size_t>{4, 2}));
  // A failure run shorter than the bound is ridden out, even repeatedly.
  std::vector<N> bursts;
  for (int round = 0; round < 3; ++round) {
    bursts.insert(bursts.end(), kMaxConsecutiveEntryFailures - 1, N::Failed);
    bursts.push_back(N::Delivered);
  }
  EXPECT_EQ(run(bursts, false).second, 3u);
  // A persistent failure ends the listing after the bound.
  auto [calls, delivered] = run({N::Delivered, N::Delivered}, true);
  EXPECT_EQ(delivered, 2u);
  EXPECT_EQ(calls, 2u + kMaxConsecutiveEntryFailures);
}

}  // namespace
}  // namespace quorvane::files
