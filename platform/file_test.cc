#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#else
#include "platform/testing-posix.h"
#endif

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
  }
  void TearDown() override { SetSleepForTest(nullptr); }
  std::string Path(const std::string& name) const { return temp_.Path(name); }
  void Write(const std::string& name, const std::string& text) const {
    test::WriteFile(Path(name), text);
  }
  std::string Read(const std::string& name) const { return test::ReadFile(Path(name)); }

  test::TempDir temp_{"file_test"};
  const std::string dir_ = temp_.path().string();
  std::vector<uint32_t> pauses_;
};

// What each kind of open meets while the file is held unshared, or held by a shared stream.
TEST_F(FileTest, SharingRules) {
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> open;
    bool ok_beside_unshared;
    bool ok_beside_shared;
  };
  auto handle = [](uint32_t access, uint32_t share) {
    return [=](const std::string& path) {
      UniqueFileHandle h(OpenFileHandle(path.c_str(), access, share, nullptr, kOpenExisting, 0));
      return h.Valid();
    };
  };
  const std::vector<Case> cases = {
      {"stream r",
       [](const std::string& p) { return UniqueStream(OpenStream(p.c_str(), "r")) != nullptr; },
       false, true},
      {"stream a+",
       [](const std::string& p) { return UniqueStream(OpenStream(p.c_str(), "a+")) != nullptr; },
       false, true},
      {"shared handle", handle(kGenericRead, kShareRead | kShareWrite), false, true},
      {"unshared handle", handle(kGenericRead | kGenericWrite, kShareNone), false, false},
      {"attributes only", handle(kFileReadAttributes, kShareNone), true, true},
      {"creat",
       [](const std::string& p) {
         int fd = CreatFile(p.c_str(), kPermissionRead | kPermissionWrite);
         return fd >= 0 && CloseDescriptor(fd) == 0;
       },
       false, true},
      {"remove", [](const std::string& p) { return RemoveFile(p.c_str()); }, false, false},
  };
  for (const Case& c : cases) {
    for (bool unshared : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (unshared ? " beside unshared" : " beside shared"));
      Write("f", "data");
      UniqueFileHandle holder;
      UniqueStream shared;
      if (unshared) {
        holder.Reset(
            OpenFileHandle(Path("f").c_str(), kGenericRead, kShareNone, nullptr, kOpenExisting, 0));
        ASSERT_TRUE(holder.Valid());
      } else {
        shared.reset(OpenStream(Path("f").c_str(), "r"));
        ASSERT_NE(shared, nullptr);
      }
      bool expected = unshared ? c.ok_beside_unshared : c.ok_beside_shared;
      EXPECT_EQ(c.open(Path("f")), expected);
      if (!expected) {
        EXPECT_EQ(GetLastError(), kErrorSharingViolation);
      }
    }
  }
}

TEST_F(FileTest, WriteOpenOfHeldFileLeavesContents) {
  Write("f", "keep me");
  UniqueFileHandle holder(
      OpenFileHandle(Path("f").c_str(), kGenericRead, kShareNone, nullptr, kOpenExisting, 0));
  ASSERT_TRUE(holder.Valid());
  EXPECT_EQ(OpenStream(Path("f").c_str(), "w"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(CreatFile(Path("f").c_str(), kPermissionWrite), -1);
  holder.Reset();  // on Windows the system itself keeps the test's read out while it is held
  EXPECT_EQ(Read("f"), "keep me");
}

TEST_F(FileTest, DispositionsAndErrorCodes) {
  Write("f", "old");
  struct Case {
    std::string path;
    uint32_t access;
    uint32_t disposition;
    bool ok;
    uint32_t code;
  };
  const std::vector<Case> cases = {
      {Path("f"), kGenericRead, kCreateNew, false, kErrorFileExists},
      {Path("new"), kGenericWrite, kCreateNew, true, kErrorSuccess},
      {Path("missing"), kGenericRead, kOpenExisting, false, kErrorFileNotFound},
      {Path("nodir/x"), kGenericRead | kGenericWrite, kCreateAlways, false, kErrorPathNotFound},
      {Path("f"), kGenericRead, kTruncateExisting, false, kErrorInvalidParameter},
      {Path("f"), kGenericRead, 9, false, kErrorInvalidParameter},
      {dir_, kGenericRead, kOpenExisting, false, kErrorDirectory},
      {Path("f"), kGenericWrite, kOpenAlways, true, kErrorAlreadyExists},
      {Path("f"), kGenericWrite, kCreateAlways, true, kErrorAlreadyExists},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " disposition " + std::to_string(c.disposition));
    UniqueFileHandle h(OpenFileHandle(c.path.c_str(), c.access, kShareRead, nullptr, c.disposition,
                                      kFileAttributeNormal));
    EXPECT_EQ(h.Valid(), c.ok);
    EXPECT_EQ(GetLastError(), c.code);
  }
  EXPECT_EQ(Read("f"), "");  // the last case truncated it
}

TEST_F(FileTest, ReopenConflictLeavesStreamUsable) {
  Write("held", "x");
  UniqueStream stream(OpenStream(Path("out").c_str(), "w"));
  ASSERT_NE(stream, nullptr);
  UniqueFileHandle holder(
      OpenFileHandle(Path("held").c_str(), kGenericRead, kShareNone, nullptr, kOpenExisting, 0));
  EXPECT_EQ(ReopenStream(Path("held").c_str(), "w", stream.get()), nullptr);
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(ReopenStream(Path("nodir/x").c_str(), "w", stream.get()), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_GT(std::fputs("still here", stream.get()), -1);
  stream.reset();
  holder.Reset();
  EXPECT_EQ(Read("out"), "still here");
  EXPECT_EQ(Read("held"), "x");
}

TEST_F(FileTest, TempFilesAreFreshAndPrivate) {
  std::string first, second;
  UniqueFileHandle a;
  UniqueFileHandle b;
  {
#ifndef _WIN32
    test::ScopedCreationMask mask(0277);  // the mode is the file's own, whatever the mask
#endif
    a = CreateTempFile(dir_.c_str(), "spool", &first);
    b = CreateTempFile(dir_.c_str(), "spool", &second);
  }
  ASSERT_TRUE(a.Valid());
  ASSERT_TRUE(b.Valid());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(dir_ + kPathSeparator + "spool", 0), 0u);
#ifndef _WIN32
  EXPECT_EQ(test::PermissionBits(first), 0600);
#endif
  EXPECT_FALSE(CreateTempFile(Path("nodir").c_str(), "spool", &first).Valid());
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FileTest, RenameNeverReplaces) {
  Write("a", "A");
  Write("b", "B");
  EXPECT_FALSE(RenameFile(Path("a").c_str(), Path("b").c_str()));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(RenameFile(Path("a").c_str(), Path("nodir/c").c_str()));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_TRUE(RenameFile(Path("a").c_str(), Path("c").c_str()));
  EXPECT_EQ(Read("b"), "B");
  EXPECT_EQ(Read("c"), "A");
}

// The copy rewrites the target in place, so a byte lock held on it keeps excluding others.
TEST_F(FileTest, CopyOverKeepsTargetLocks) {
  Write("src", "new");
  Write("dst", "older and longer");
  UniqueStream locker(OpenStream(Path("dst").c_str(), "r+"));
  ASSERT_TRUE(LockStreamByte(locker.get()));
  ASSERT_TRUE(CopyFileOver(Path("src").c_str(), Path("dst").c_str()));
  EXPECT_EQ(Read("dst"), "new");
  UniqueStream other(OpenStream(Path("dst").c_str(), "r+"));
  EXPECT_FALSE(LockStreamByte(other.get()));
  EXPECT_FALSE(CopyFileOver(Path("dst").c_str(), Path("dst").c_str()));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CopyFileOver(Path("missing").c_str(), Path("dst").c_str()));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FileTest, RangeLockExcludesOtherOpensUntilReleased) {
  Write("f", "0123456789");
  UniqueStream a(OpenStream(Path("f").c_str(), "r+"));
  UniqueStream b(OpenStream(Path("f").c_str(), "r+"));
  ASSERT_TRUE(LockStreamRange(a.get(), 0, 10));
  ASSERT_EQ(std::fseek(b.get(), 9, SEEK_SET), 0);
  EXPECT_FALSE(LockStreamByte(b.get()));
  EXPECT_EQ(GetLastError(), kErrorLockViolation);
  ASSERT_TRUE(UnlockStreamRange(a.get(), 0, 10));
  EXPECT_TRUE(LockStreamByte(b.get()));
  EXPECT_FALSE(LockStreamRange(a.get(), 0, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(FileTest, StatusReadsSizeFromTheFile) {
  UniqueStream writer(OpenStream(Path("log").c_str(), "a"));
  ASSERT_NE(writer, nullptr);
  std::fputs("12345", writer.get());
  std::fflush(writer.get());
  FileStatus status;
  ASSERT_TRUE(GetFileStatus(Path("log").c_str(), &status));
  EXPECT_TRUE(status.is_regular);
  EXPECT_EQ(status.size, 5u);
  ASSERT_TRUE(GetFileStatus(dir_.c_str(), &status));
  EXPECT_TRUE(status.is_directory);
  EXPECT_FALSE(GetFileStatus(Path("missing").c_str(), &status));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

#ifdef _WIN32
using FileWin32Test = FileTest;

// A file that a second process holds without sharing: every open and the removal fail with the
// system's sharing violation, an attribute-only look does not; once let go, it opens.
TEST_F(FileWin32Test, SharingViolationFromASecondProcess) {
  const std::string path = Path("held");
  test::WriteFile(path, "held");
  {
    test::HeldElsewhere holder;
    ASSERT_TRUE(holder.Hold("share", path, 10000));
    EXPECT_EQ(OpenStream(path.c_str(), "r"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_EQ(OpenStream(path.c_str(), "w"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_EQ(OpenFileHandle(path.c_str(), kGenericRead, kShareRead | kShareWrite, nullptr,
                             kOpenExisting, kFileAttributeNormal),
              kInvalidFileHandle);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    FileStatus status;
    EXPECT_TRUE(GetFileStatus(path.c_str(), &status));
    EXPECT_EQ(status.size, 4u);
    // A handle of this process excludes its own later opens as well.
    holder.Finish();
    UniqueFileHandle own(OpenFileHandle(path.c_str(), kGenericRead, kShareNone, nullptr,
                                        kOpenExisting, kFileAttributeNormal));
    ASSERT_TRUE(own.Valid());
    EXPECT_EQ(OpenStream(path.c_str(), "r"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  }
  UniqueStream stream(OpenStream(path.c_str(), "r"));
  EXPECT_NE(stream, nullptr);
}

// A byte that a second process has locked: the lock here is tried kByteLockAttempts times,
// pausing between tries, and then fails with 33; the file itself stays open to shared use.
TEST_F(FileWin32Test, ByteLockHeldByASecondProcess) {
  const std::string path = Path("locked");
  test::WriteFile(path, "x");
  test::HeldElsewhere holder;
  ASSERT_TRUE(holder.Hold("lock", path, 10000));
  UniqueStream stream(OpenStream(path.c_str(), "r+"));
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(LockStreamByte(stream.get()));
  EXPECT_EQ(GetLastError(), kErrorLockViolation);
  EXPECT_EQ(pauses_, std::vector<uint32_t>(kByteLockAttempts - 1, kByteLockPauseMs));
  std::fseek(stream.get(), 1, SEEK_SET);
  EXPECT_TRUE(LockStreamByte(stream.get()));  // another byte is free
  EXPECT_TRUE(UnlockStreamByte(stream.get()));
}
#else
using FilePosixTest = FileTest;
using test::ClosedStandardDescriptors;

// While standard descriptors are closed, every descriptor opened here must still be above 2:
// otherwise what the caller writes to a closed standard stream lands in that file.
TEST_F(FilePosixTest, OpensStayOffClosedStandardDescriptors) {
  Write("f", "data");
  const std::string f = Path("f");
  const std::vector<std::pair<const char*, std::function<int()> > > openers = {
      {"handle",
       [&] {
         UniqueFileHandle h(OpenFileHandle(f.c_str(), kGenericRead | kGenericWrite, kShareRead,
                                           nullptr, kOpenExisting, 0));
         return static_cast<int>(h.Get());
       }},
      {"attributes handle",
       [&] {
         UniqueFileHandle h(
             OpenFileHandle(f.c_str(), kFileReadAttributes, kShareRead, nullptr, kOpenExisting, 0));
         return static_cast<int>(h.Get());
       }},
      {"stream",
       [&] {
         UniqueStream s(OpenStream(f.c_str(), "a"));
         return s != nullptr ? fileno(s.get()) : -1;
       }},
      {"creat",
       [&] {
         int fd = CreatFile(Path("c").c_str(), kPermissionRead | kPermissionWrite);
         if (fd >= 0) CloseDescriptor(fd);
         return fd;
       }},
      {"temporary file",
       [&] {
         std::string path;
         UniqueFileHandle h = CreateTempFile(dir_.c_str(), "spool", &path);
         return static_cast<int>(h.Get());
       }},
  };
  std::vector<int> got;
  {
    ClosedStandardDescriptors closed({0, 1, 2});
    for (const auto& opener : openers) got.push_back(opener.second());
  }
  for (size_t i = 0; i < openers.size(); ++i) {
    EXPECT_GT(got[i], 2) << openers[i].first;
  }
}

// A caller whose standard output is closed re-opens it on its output file (-o): what it writes
// then must reach that file, not be lost with a descriptor closed under it.
TEST_F(FilePosixTest, ReopenOfClosedStandardOutputWritesTheFile) {
  bool reopened = false;
  bool written = false;
  {
    ClosedStandardDescriptors closed({1});
    reopened = ReopenStream(Path("out").c_str(), "w", stdout) == stdout;
    written = std::fputs("listing\n", stdout) >= 0 && std::fflush(stdout) == 0;
  }
  EXPECT_TRUE(reopened);
  EXPECT_TRUE(written);
  EXPECT_EQ(Read("out"), "listing\n");
}

#endif

}  // namespace
}  // namespace platform
