// Test helpers for the POSIX implementation of the platform layer (its own tests only).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace platform::test {

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

}  // namespace platform::test
