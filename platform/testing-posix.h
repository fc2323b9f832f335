// Test helpers for the POSIX implementation of the platform layer, and for tests of the layers
// above that have to look at what the system holds (access lists, the caller's group).
// Test code only.
#pragma once

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace platform::test {

/// The access list of path (or, given for_default, its default list) as getfacl shows it,
/// entries joined by commas, with numeric ids: "user::rwx,user:0:rwx,group::r--,mask::rwx,
/// other::r--". A file without a list of its own shows the list its permission bits make.
/// "error: <text>" when it cannot be read.
inline std::string AccessListText(const std::string& path, bool for_default = false) {
  acl_t acl = acl_get_file(path.c_str(), for_default ? ACL_TYPE_DEFAULT : ACL_TYPE_ACCESS);
  if (acl == nullptr) return std::string("error: ") + std::strerror(errno);
  char* text = acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS);
  std::string result = text != nullptr ? text : "error: no text";
  acl_free(text);
  acl_free(acl);
  return result;
}

/// Sets the process's file-creation mask to mask for its lifetime and restores the previous
/// one after.
class ScopedCreationMask {
 public:
  explicit ScopedCreationMask(mode_t mask) : previous_(umask(mask)) {}
  ~ScopedCreationMask() { umask(previous_); }
  ScopedCreationMask(const ScopedCreationMask&) = delete;
  ScopedCreationMask& operator=(const ScopedCreationMask&) = delete;

 private:
  mode_t previous_;
};

/// Clears the process's file-creation mask for its lifetime, so that created modes are exact.
class ScopedNoCreationMask : public ScopedCreationMask {
 public:
  ScopedNoCreationMask() : ScopedCreationMask(0) {}
};

/// The permission bits of path (0777 at most), or -1.
inline int PermissionBits(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

/// The effective user's number, and the name of the effective group ("" when it has none).
inline unsigned CurrentUid() { return geteuid(); }
inline std::string CurrentGroupName() {
  const struct group* group = getgrgid(getegid());
  return group != nullptr ? group->gr_name : "";
}

/// A child process for the process tests: the program to start and its arguments.
struct TestChildCommand {
  std::string program;
  ChildArgs args;
};

/// The child that does what request asks, as the Windows build's test child does, here by the
/// shell: {"exit", N} writes "a" and exits with N; {"sleep", MS} writes "a" and sleeps for MS
/// milliseconds; {"args", ARG...} writes each ARG on a line of its own, between < and >.
inline TestChildCommand TestChild(const ChildArgs& request) {
  const std::string what = request.empty() ? "" : request[0];
  if (what == "exit" && request.size() == 2) {
    return {"/bin/sh", {"-c", "echo a; exit " + request[1]}};
  }
  if (what == "sleep" && request.size() == 2) {
    const unsigned long ms = std::stoul(request[1]);
    return {"/bin/sh",
            {"-c", "echo a; exec sleep " + std::to_string(ms / 1000) + "." +
                       std::to_string(1000 + ms % 1000).substr(1)}};
  }
  ChildArgs args = {"-c", "for arg; do printf '<%s>\\n' \"$arg\"; done", "sh"};
  if (what == "args") args.insert(args.end(), request.begin() + 1, request.end());
  return {"/bin/sh", args};
}

// Closes some standard descriptors for the life of the object, as a caller started with `>&-`
// has them, and puts them back afterwards. Nothing can be printed while they are closed, so
// tests check their results after the object has gone.
class ClosedStandardDescriptors {
 public:
  explicit ClosedStandardDescriptors(const std::vector<int>& fds) {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd : fds) {
      saved_.emplace_back(fd, fcntl(fd, F_DUPFD_CLOEXEC, 10));
      close(fd);
    }
  }
  ~ClosedStandardDescriptors() {
    std::fflush(stdout);
    for (auto [fd, copy] : saved_) {
      dup2(copy, fd);
      close(copy);
    }
    std::clearerr(stdout);
  }
  ClosedStandardDescriptors(const ClosedStandardDescriptors&) = delete;
  ClosedStandardDescriptors& operator=(const ClosedStandardDescriptors&) = delete;

 private:
  std::vector<std::pair<int, int>> saved_;
};

// Keeps the file of the standard output for the life of the object: code that re-opens stdout
// on another file, as the command's -o does, leaves it there, and the object puts it back.
class KeptStandardOutput {
 public:
  KeptStandardOutput() : copy_((std::fflush(stdout), fcntl(1, F_DUPFD_CLOEXEC, 10))) {}
  ~KeptStandardOutput() {
    std::fflush(stdout);
    dup2(copy_, 1);
    close(copy_);
    std::clearerr(stdout);
  }
  KeptStandardOutput(const KeptStandardOutput&) = delete;
  KeptStandardOutput& operator=(const KeptStandardOutput&) = delete;

 private:
  int copy_;
};

}  // namespace platform::test
