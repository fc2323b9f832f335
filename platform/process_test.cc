#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/testing-posix.h"
#include "platform/testing.h"

namespace platform {
namespace {

using test::ClosedStandardDescriptors;

constexpr char kEcho[] = "/bin/echo";

std::string ReadAll(FILE* in) {
  std::string text;
  if (in == nullptr) return text;
  for (int c; (c = std::getc(in)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(RunRedirectedTest, WritesTheFileButNeverFollowsASymbolicLink) {
  test::TempDir dir("process_test");
  test::WriteFile(dir.Path("spool"), "older and longer");
  EXPECT_EQ(RunRedirected(kEcho, {"hello"}, dir.Path("spool")), 0);
  EXPECT_EQ(test::ReadFile(dir.Path("spool")), "hello\n");

  // A spool name swapped for a link, to a file of the victim's or to one not yet there.
  test::WriteFile(dir.Path("victim"), "precious");
  std::filesystem::create_symlink(dir.Path("victim"), dir.Path("link"));
  std::filesystem::create_symlink(dir.Path("absent"), dir.Path("dangling"));
  for (const char* name : {"link", "dangling"}) {
    SCOPED_TRACE(name);
    SetLastError(kErrorSuccess);
    EXPECT_EQ(RunRedirected(kEcho, {"hello"}, dir.Path(name)), -1);
    EXPECT_NE(GetLastError(), kErrorSuccess);
  }
  EXPECT_EQ(test::ReadFile(dir.Path("victim")), "precious");
  EXPECT_FALSE(std::filesystem::exists(dir.Path("absent")));
}

// A caller whose standard streams are closed still gets the child's output, through the pipe
// or into the file, and none of its closed standard descriptors is taken behind its back.
TEST(ChildProcessTest, WorksWithStandardDescriptorsClosed) {
  test::TempDir dir("process_test");
  const std::vector<std::vector<int>> closed_sets = {{0}, {1}, {2}, {0, 1}, {0, 1, 2}};
  for (const std::vector<int>& set : closed_sets) {
    std::string piped;
    int piped_status = -1;
    int redirected_status = -1;
    bool still_closed = true;
    {
      ClosedStandardDescriptors closed(set);
      ChildProcess child;
      if (child.Start(kEcho, {"hello"})) piped = ReadAll(child.Output());
      piped_status = child.Finish();
      redirected_status = RunRedirected(kEcho, {"hello"}, dir.Path("out"));
      for (int fd : set) still_closed = still_closed && fcntl(fd, F_GETFD) == -1;
    }
    std::string closed_text;
    for (int fd : set) closed_text += std::to_string(fd) + " ";
    SCOPED_TRACE("closed: " + closed_text);
    EXPECT_EQ(piped, "hello\n");
    EXPECT_EQ(piped_status, 0);
    EXPECT_EQ(redirected_status, 0);
    EXPECT_EQ(test::ReadFile(dir.Path("out")), "hello\n");
    EXPECT_TRUE(still_closed);
  }
}

}  // namespace
}  // namespace platform
