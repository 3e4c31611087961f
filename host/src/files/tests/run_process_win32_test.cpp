// run_process for real: the child is a helper program built beside this test.
#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace quorvane::files::testing {
namespace {

constexpr const char* kChild = "files_test_child";  // found in this program's own folder

json run(const std::string& file_name, const std::string& arguments, bool wait = true) {
  json params{{"fileName", file_name}, {"arguments", arguments}};
  if (wait) params["waitForExit"] = true;
  return ok("run_process", params);
}

std::string bin_dir() { return QUORVANE_BIN_DIR; }
std::string child_exe() { return bin_dir() + "/files_test_child.exe"; }

// Polls for a file a child writes; the child runs on its own when not waited for.
std::optional<std::string> await_file(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::optional<std::string> bytes = file_bytes(path); bytes && !bytes->empty()) return bytes;
    Sleep(20);
  }
  return std::nullopt;
}

TEST(RunProcess, ExitCodeOfAShellCommand) {
  EXPECT_EQ(run("cmd.exe", "/c exit 3").dump(), R"({"exitCode":3,"outputTruncated":false,"stderr":"","stdout":""})");
  EXPECT_EQ(run("cmd.exe", "/c exit 3", false).dump(), R"({"exitCode":null})");
}

TEST(RunProcess, CapturesBothStreamsAndSignedExitCodes) {
  json r = run(kChild, "out 5 err 3 exit -7");
  EXPECT_EQ(r["stdout"], "ooooo");
  EXPECT_EQ(r["stderr"], "eee");
  EXPECT_EQ(r["exitCode"], -7);
  EXPECT_EQ(run(kChild, "exit 0xC0000005")["exitCode"], -1073741819);
  EXPECT_EQ(run(kChild, "exit 0x7FFFFFFF")["exitCode"], 2147483647);
}

TEST(RunProcess, OutputIsCutAfterFullDraining) {
  json exact = run(kChild, "out 409600");
  EXPECT_EQ(exact["stdout"].get<std::string>().size(), 409600u);
  EXPECT_EQ(exact["outputTruncated"], false);
  json longer = run(kChild, "out 500000 exit 4");
  EXPECT_EQ(longer["stdout"].get<std::string>(), std::string(409600, 'o'));
  EXPECT_EQ(longer["outputTruncated"], true);
  EXPECT_EQ(longer["exitCode"], 4);
  // Standard error fills its pipe long before standard output is written: only reading
  // both at once lets the child finish.
  json both = run(kChild, "err 3000000 out 2000000");
  EXPECT_EQ(both["stderr"].get<std::string>(), std::string(409600, 'e'));
  EXPECT_EQ(both["stdout"].get<std::string>(), std::string(409600, 'o'));
  EXPECT_EQ(both["outputTruncated"], true);
  EXPECT_EQ(run(kChild, "err 409601")["outputTruncated"], true);
}

TEST(RunProcess, OutputIsDecodedAsUtf8) {
  EXPECT_EQ(run(kChild, "hex 636166E921")["stdout"], "caf\xEF\xBF\xBD!");  // code page 1252 "café!"
  EXPECT_EQ(run(kChild, "hex E282AC")["stdout"], "\xE2\x82\xAC");
}

TEST(RunProcess, CommandLineQuotesTheNameAsGivenAndPassesArgumentsVerbatim) {
  EXPECT_EQ(run(kChild, "cmdline  \"two words\" \\\\x")["stdout"], "\"files_test_child\" cmdline  \"two words\" \\\\x");
  json params{{"fileName", kChild}, {"waitForExit", true}};
  EXPECT_EQ(ok("run_process", params)["stdout"], "");
  params["arguments"] = 17;  // not a string: no arguments
  EXPECT_EQ(ok("run_process", params)["exitCode"], 0);
  params["arguments"] = "cmdline";
  EXPECT_EQ(ok("run_process", params)["stdout"], "\"files_test_child\" cmdline");
}

TEST(RunProcess, StandardInputIsAtItsEndInBothModes) {
  TempDir dir;
  json r = run(kChild, "stdin \"" + (dir / "waited.txt") + "\"");
  EXPECT_EQ(r["exitCode"], 0);
  EXPECT_EQ(file_bytes(dir / "waited.txt"), "0:0");
  EXPECT_EQ(run(kChild, "stdin \"" + (dir / "free.txt") + "\"", false).dump(), R"({"exitCode":null})");
  EXPECT_EQ(await_file(dir / "free.txt"), "0:0");
}

TEST(RunProcess, OnlyWaitingForTrueWaits) {
  TempDir dir;
  int n = 0;
  for (const json& flag : {json("true"), json(1), json(false), json(nullptr)}) {
    std::string marker = dir / ("t" + std::to_string(n++));
    json params{{"fileName", kChild}, {"arguments", "sleep 50 touch \"" + marker + "\""}, {"waitForExit", flag}};
    EXPECT_EQ(ok("run_process", params).dump(), R"({"exitCode":null})") << flag.dump();
  }
  for (int i = 0; i < n; ++i) EXPECT_TRUE(await_file(dir / ("t" + std::to_string(i))));
}

TEST(RunProcess, TheChildInheritsOnlyItsStandardHandles) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &sa, 0));  // inheritable, like the host's own streams
  std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(write_end));
  EXPECT_EQ(run(kChild, "handle " + value)["stdout"], "closed");
  CloseHandle(read_end);
  CloseHandle(write_end);
}

TEST(RunProcess, ProgramSearch) {
  TempDir dir;
  make_dir(dir / "on_path");
  make_dir(dir / "cwd");
  ASSERT_TRUE(CopyFileW(to_wide(child_exe()).c_str(), to_wide(dir / "on_path\\qv_path_tool.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(to_wide(child_exe()).c_str(), to_wide(dir / "cwd\\qv_cwd_tool.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(to_wide(child_exe()).c_str(), to_wide(dir / "cwd\\odd.tool").c_str(), FALSE));

  // PATH and the current directory are the process's own; put them back however the
  // test ends.
  struct Restore {
    std::wstring path = variable(L"PATH");
    std::wstring cwd = current_directory();
    ~Restore() {
      SetEnvironmentVariableW(L"PATH", path.c_str());
      SetCurrentDirectoryW(cwd.c_str());
    }
    static std::wstring variable(const wchar_t* name) {
      std::wstring value(32767, L'\0');
      value.resize(GetEnvironmentVariableW(name, value.data(), 32767));
      return value;
    }
    static std::wstring current_directory() {
      std::wstring value(32767, L'\0');
      value.resize(GetCurrentDirectoryW(32767, value.data()));
      return value;
    }
  } restore;
  std::wstring path = to_wide(dir / "nothing here") + L";;\"" + to_wide(dir / "on_path") + L"\";" + restore.path;
  ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", path.c_str()));
  ASSERT_TRUE(SetCurrentDirectoryW(to_wide(dir / "cwd").c_str()));

  EXPECT_EQ(run("qv_path_tool", "out 2")["stdout"], "oo");
  EXPECT_EQ(run("QV_PATH_TOOL.EXE", "out 1")["stdout"], "o");
  // The current directory is never searched, but a relative path reaches into it.
  EXPECT_EQ(error_of("run_process", json{{"fileName", "qv_cwd_tool"}}), "run_failed: qv_cwd_tool: program not found");
  EXPECT_EQ(run(".\\qv_cwd_tool", "out 3")["stdout"], "ooo");
  EXPECT_EQ(run("./qv_cwd_tool.EXE", "out 1")["stdout"], "o");
  // With a folder and no .exe there, the name is started as it is.
  EXPECT_EQ(run(".\\odd.tool", "out 1")["stdout"], "o");
  // An absolute path, and the Windows folder found for a bare name.
  EXPECT_EQ(run(dir / "on_path\\qv_path_tool", "out 4")["stdout"], "oooo");
  EXPECT_EQ(run("cmd", "/c exit 5")["exitCode"], 5);
}

TEST(RunProcess, BatchFilesRunThroughTheCommandInterpreter) {
  TempDir dir;
  put_file(dir / "run me.bat", "@echo off\r\necho batch[%~1][%2]\r\nexit /b 7\r\n");
  json r = run(dir / "run me.bat", "\"first arg\" second");
  EXPECT_EQ(r["exitCode"], 7);
  EXPECT_EQ(r["stdout"], "batch[first arg][second]\r\n");
  put_file(dir / "s.CMD", "@echo cmd %*\r\n");
  EXPECT_EQ(run(dir / "s.CMD", "")["stdout"], "cmd \r\n");
}

TEST(RunProcess, Failures) {
  TempDir dir;
  EXPECT_EQ(error_of("run_process", json{{"fileName", "qv_no_such_program"}}),
            "run_failed: qv_no_such_program: program not found");
  EXPECT_EQ(error_of("run_process", json{{"fileName", ""}}), "run_failed: : program path has no file name");
  EXPECT_EQ(error_of("run_process", json{{"fileName", "C:\\tools\\"}, {"waitForExit", true}}),
            "run_failed: C:\\tools\\: program path has no file name");
  EXPECT_EQ(error_of("run_process", json{{"fileName", std::string("cmd\0.exe", 8)}}),
            "run_failed: cmd" + std::string(1, '\0') + ".exe: strings passed to WinAPI cannot contain NULs");
  EXPECT_EQ(error_of("run_process", json{{"fileName", "cmd.exe"}, {"arguments", std::string("/c\0", 3)}}),
            "run_failed: cmd.exe: strings passed to WinAPI cannot contain NULs");
  // Something that is not a program.
  put_file(dir / "text.exe", "just some text, not a program");
  std::string not_program = error_of("run_process", json{{"fileName", dir / "text.exe"}, {"waitForExit", true}});
  EXPECT_EQ(not_program.rfind("run_failed: " + (dir / "text.exe") + ": ", 0), 0u) << not_program;
  EXPECT_NE(not_program.find(" (os error "), std::string::npos) << not_program;
  std::string missing = error_of("run_process", json{{"fileName", dir / "missing.exe"}});
  EXPECT_TRUE(ends_with(missing, " (os error 2)")) << missing;
}

}  // namespace
}  // namespace quorvane::files::testing
