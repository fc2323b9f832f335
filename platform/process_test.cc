#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#else
#include <fcntl.h>

#include "platform/testing-posix.h"
#endif

namespace platform {
namespace {

std::string ReadAll(FILE* in) {
  std::string text;
  if (in == nullptr) return text;
  for (int c; (c = std::getc(in)) != EOF;) text += static_cast<char>(c);
  return text;
}

// Each argument arrives whole, whatever blanks, quotes, backslashes or metacharacters it holds.
TEST(ChildProcessTest, ArgumentsArriveWhole) {
  const std::vector<std::string> args = {"plain",    "two words",  "",
                                         "a\"quote", "trailing\\", "back\\\\\"slash",
                                         "%PATH%",   "&|<>^",      "tab\there"};
  ChildArgs request = {"args"};
  request.insert(request.end(), args.begin(), args.end());
  const test::TestChildCommand command = test::TestChild(request);
  ChildProcess child;
  ASSERT_TRUE(child.Start(command.program, command.args));
  std::string expected;
  for (const std::string& arg : args) expected += "<" + arg + ">\n";
  EXPECT_EQ(ReadAll(child.Output()), expected);
  EXPECT_TRUE(child.Finish().Succeeded());
}

// Every way a child can end is told apart, through the pipe and into a file alike; a child that
// outlives its time limit is ended, so that its reader sees the end of its output.
TEST(ChildProcessTest, TellsHowTheChildEnded) {
  test::TempDir dir("process_test");
  struct Case {
    test::TestChildCommand command;
    unsigned limit;
    ChildEnd::Kind kind;
    int code;
  };
  const Case cases[] = {
      {test::TestChild({"exit", "0"}), 0, ChildEnd::kExited, 0},
      {test::TestChild({"exit", "5"}), 0, ChildEnd::kExited, 5},
      {test::TestChild({"sleep", "60000"}), 1, ChildEnd::kTimedOut, 1},
#ifndef _WIN32
      {{"/bin/sh", {"-c", "echo a; kill -9 $$"}}, 0, ChildEnd::kSignaled, 9},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.args.back());
    ChildProcess child;
    ASSERT_TRUE(child.Start(c.command.program, c.command.args, c.limit));
    EXPECT_EQ(ReadAll(child.Output()), "a\n");
    const ChildEnd piped = child.Finish();
    EXPECT_EQ(piped.kind, c.kind);
    EXPECT_EQ(piped.code, c.code);
    const ChildEnd redirected =
        RunRedirected(c.command.program, c.command.args, dir.Path("out"), c.limit);
    EXPECT_EQ(redirected.kind, c.kind);
    EXPECT_EQ(redirected.code, c.code);
    EXPECT_EQ(test::ReadFile(dir.Path("out")), "a\n");
  }
  ChildProcess missing;
  EXPECT_FALSE(missing.Start(dir.Path("missing.exe"), {}));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(DescribeChildEnd({ChildEnd::kExited, 5}), "rc=5");
  EXPECT_EQ(DescribeChildEnd({ChildEnd::kTimedOut, 1}), "ended after the time limit of 1 s");
}

#ifndef _WIN32
using test::ClosedStandardDescriptors;

constexpr char kEcho[] = "/bin/echo";

TEST(ProcessPosixTest, RunRedirectedNeverFollowsASymbolicLink) {
  test::TempDir dir("process_test");
  test::WriteFile(dir.Path("spool"), "older and longer");
  EXPECT_TRUE(RunRedirected(kEcho, {"hello"}, dir.Path("spool")).Succeeded());
  EXPECT_EQ(test::ReadFile(dir.Path("spool")), "hello\n");

  // A spool name swapped for a link, to a file of the victim's or to one not yet there.
  test::WriteFile(dir.Path("victim"), "precious");
  std::filesystem::create_symlink(dir.Path("victim"), dir.Path("link"));
  std::filesystem::create_symlink(dir.Path("absent"), dir.Path("dangling"));
  for (const char* name : {"link", "dangling"}) {
    SCOPED_TRACE(name);
    SetLastError(kErrorSuccess);
    EXPECT_EQ(RunRedirected(kEcho, {"hello"}, dir.Path(name)).kind, ChildEnd::kNotRun);
    EXPECT_NE(GetLastError(), kErrorSuccess);
  }
  EXPECT_EQ(test::ReadFile(dir.Path("victim")), "precious");
  EXPECT_FALSE(std::filesystem::exists(dir.Path("absent")));
}

// A caller whose standard streams are closed still gets the child's output, through the pipe
// or into the file, and none of its closed standard descriptors is taken behind its back.
TEST(ProcessPosixTest, WorksWithStandardDescriptorsClosed) {
  test::TempDir dir("process_test");
  const std::vector<std::vector<int>> closed_sets = {{0}, {1}, {2}, {0, 1}, {0, 1, 2}};
  for (const std::vector<int>& set : closed_sets) {
    std::string piped;
    ChildEnd piped_end;
    ChildEnd redirected_end;
    bool still_closed = true;
    {
      ClosedStandardDescriptors closed(set);
      ChildProcess child;
      if (child.Start(kEcho, {"hello"})) piped = ReadAll(child.Output());
      piped_end = child.Finish();
      redirected_end = RunRedirected(kEcho, {"hello"}, dir.Path("out"));
      for (int fd : set) still_closed = still_closed && fcntl(fd, F_GETFD) == -1;
    }
    std::string closed_text;
    for (int fd : set) closed_text += std::to_string(fd) + " ";
    SCOPED_TRACE("closed: " + closed_text);
    EXPECT_EQ(piped, "hello\n");
    EXPECT_TRUE(piped_end.Succeeded());
    EXPECT_TRUE(redirected_end.Succeeded());
    EXPECT_EQ(test::ReadFile(dir.Path("out")), "hello\n");
    EXPECT_TRUE(still_closed);
  }
}

#endif

}  // namespace
}  // namespace platform
