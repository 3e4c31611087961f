#include <gtest/gtest.h>

#include <map>
#include <set>

#include "files/errors.h"
#include "files/launch.h"

namespace quorvane::files {
namespace {

using Paths = std::vector<std::u16string>;

TEST(Launch, SearchFoldersInOrderWithoutTheCurrentDirectory) {
  EXPECT_EQ(program_search_folders(u"C:\\app", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\tools;;E:\\bin;"),
            (Paths{u"C:\\app", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\tools", u"E:\\bin"}));
  EXPECT_EQ(program_search_folders(u"C:\\app", u"S", u"W", std::nullopt), (Paths{u"C:\\app", u"S", u"W"}));
}

TEST(Launch, PathVariableSplitting) {
  EXPECT_EQ(split_path_variable(u"a;b"), (Paths{u"a", u"b"}));
  EXPECT_EQ(split_path_variable(u";;a;;"), (Paths{u"a"}));
  EXPECT_EQ(split_path_variable(u"c:\\foo;c:\\som\"e;di\"r;c:\\bar"), (Paths{u"c:\\foo", u"c:\\some;dir", u"c:\\bar"}));
  EXPECT_EQ(split_path_variable(u"\"\""), Paths{});
  EXPECT_EQ(split_path_variable(u""), Paths{});
}

TEST(Launch, CandidateNameAndSuffixes) {
  EXPECT_EQ(program_candidate_name(u"notepad"), u"notepad.exe");
  EXPECT_EQ(program_candidate_name(u"tool.com"), u"tool.com");
  EXPECT_EQ(program_candidate_name(u"my.tool"), u"my.tool");
  EXPECT_TRUE(is_batch_script(u"C:\\x\\run.BAT"));
  EXPECT_TRUE(is_batch_script(u"run.Cmd"));
  EXPECT_FALSE(is_batch_script(u"run.bat.exe"));
  EXPECT_FALSE(is_batch_script(u"bat"));
}

// A fake disk: the files that exist, and the search folders.
struct FakeDisk {
  std::set<std::u16string> files;
  Paths folders{u"C:\\app", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\path1", u"D:\\path2"};
  Paths probed;

  ProgramLookup lookup() {
    ProgramLookup l;
    l.probe = [this](std::u16string_view candidate) -> std::optional<std::u16string> {
      probed.emplace_back(candidate);
      if (files.count(std::u16string(candidate))) return u"FULL:" + std::u16string(candidate);
      return std::nullopt;
    };
    l.search_folders = [this] { return folders; };
    return l;
  }
};

std::u16string located(const Result<std::u16string, std::string_view>& r) { return r ? *r : u"<error>"; }

TEST(Launch, BareNamesAreSearchedInOrderAndTheFirstHitWins) {
  FakeDisk disk;
  disk.files = {u"D:\\path2\\notepad.exe", u"C:\\Windows\\notepad.exe"};
  EXPECT_EQ(located(locate_program(u"notepad", disk.lookup())), u"FULL:C:\\Windows\\notepad.exe");
  EXPECT_EQ(disk.probed,
            (Paths{u"C:\\app\\notepad.exe", u"C:\\Windows\\system32\\notepad.exe", u"C:\\Windows\\notepad.exe"}));

  disk.probed.clear();
  disk.files = {u"D:\\path2\\run.bat"};
  EXPECT_EQ(located(locate_program(u"run.bat", disk.lookup())), u"FULL:D:\\path2\\run.bat");
  EXPECT_EQ(disk.probed.back(), u"D:\\path2\\run.bat");

  // A name with a dot is looked for as it is, never with .exe added.
  disk.files = {u"C:\\app\\my.tool.exe"};
  EXPECT_EQ(locate_program(u"my.tool", disk.lookup()).error(), kProgramNotFound);
}

TEST(Launch, NamesWithAFolderAreNotSearched) {
  FakeDisk disk;
  disk.files = {u"tools\\x.exe", u"C:\\app\\y.exe"};
  EXPECT_EQ(located(locate_program(u"tools\\x", disk.lookup())), u"tools\\x.exe");
  EXPECT_EQ(located(locate_program(u"tools/y", disk.lookup())), u"tools/y");  // no y.exe there: used as given
  disk.probed.clear();
  EXPECT_EQ(located(locate_program(u"C:\\other\\prog.EXE", disk.lookup())), u"C:\\other\\prog.EXE");
  EXPECT_TRUE(disk.probed.empty());
  EXPECT_EQ(located(locate_program(u".\\run.cmd", disk.lookup())), u".\\run.cmd");
}

TEST(Launch, LocateFailures) {
  FakeDisk disk;
  EXPECT_EQ(locate_program(u"", disk.lookup()).error(), kNoFileName);
  EXPECT_EQ(locate_program(u"C:\\dir\\", disk.lookup()).error(), kNoFileName);
  EXPECT_EQ(locate_program(u"dir/", disk.lookup()).error(), kNoFileName);
  EXPECT_EQ(locate_program(u"missing", disk.lookup()).error(), kProgramNotFound);
  EXPECT_EQ(disk.probed.size(), disk.folders.size());
}

TEST(Launch, CommandLines) {
  EXPECT_EQ(program_command_line(u"cmd.exe", u"/c exit 3"), u"\"cmd.exe\" /c exit 3");
  EXPECT_EQ(program_command_line(u"C:\\My Tools\\t", u""), u"\"C:\\My Tools\\t\"");
  EXPECT_EQ(program_command_line(u"t", u"  \"a b\" \\\"c"), u"\"t\"   \"a b\" \\\"c");

  Result<std::u16string, std::string_view> batch = batch_command_line(u"C:\\s p\\run.bat", u"one \"two\"");
  EXPECT_EQ(*batch, u"cmd.exe /e:ON /v:OFF /d /c \"\"C:\\s p\\run.bat\" one \"two\"\"");
  EXPECT_EQ(*batch_command_line(u"r.cmd", u""), u"cmd.exe /e:ON /v:OFF /d /c \"\"r.cmd\"\"");
  EXPECT_EQ(batch_command_line(u"C:\\a\"b.bat", u"").error(), kBadBatchPath);
  EXPECT_EQ(batch_command_line(u"C:\\dir\\", u"").error(), kBadBatchPath);
  EXPECT_EQ(kBadBatchPath.size(), 54u);
  EXPECT_EQ(std::string(kBadBatchPath), "Windows file names may not contain `\"` or end with `\\`");
}

TEST(Launch, WaitedResultCutsEachStreamAtTheLimit) {
  std::string exact(kMaxCapturedOutput, 'x');
  json r = waited_launch_result(0, exact, "err");
  EXPECT_EQ(r["stdout"].get<std::string>().size(), kMaxCapturedOutput);
  EXPECT_EQ(r["stderr"], "err");
  EXPECT_EQ(r["outputTruncated"], false);

  std::string longer(500000, 'y');
  r = waited_launch_result(0, "", longer);
  EXPECT_EQ(r["stderr"].get<std::string>(), std::string(kMaxCapturedOutput, 'y'));
  EXPECT_EQ(r["stdout"], "");
  EXPECT_EQ(r["outputTruncated"], true);

  // The cut is made on bytes: a two-byte character split by it becomes U+FFFD.
  std::string split(kMaxCapturedOutput - 1, 'a');
  split += "\xC3\xA9";
  r = waited_launch_result(0, split, "");
  EXPECT_EQ(r["stdout"].get<std::string>(), std::string(kMaxCapturedOutput - 1, 'a') + "\xEF\xBF\xBD");
  EXPECT_EQ(r["outputTruncated"], true);
}

TEST(Launch, WaitedResultDecodingAndExitCode) {
  // Code page 1252 text ("café" with 0xE9) is taken as UTF-8 regardless.
  json r = waited_launch_result(0xC0000005u, "caf\xE9!", "ok \xE2\x82\xAC");
  EXPECT_EQ(r["exitCode"], -1073741819);
  EXPECT_EQ(r["stdout"], "caf\xEF\xBF\xBD!");
  EXPECT_EQ(r["stderr"], "ok \xE2\x82\xAC");
  EXPECT_EQ(waited_launch_result(3, "", "").dump(),
            R"({"exitCode":3,"outputTruncated":false,"stderr":"","stdout":""})");
  EXPECT_EQ(waited_launch_result(0xFFFFFFFFu, "", "")["exitCode"], -1);
  EXPECT_EQ(unwaited_launch_result().dump(), R"({"exitCode":null})");
}

}  // namespace
}  // namespace quorvane::files
