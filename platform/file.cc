// File services that are the same on every system.
#include "platform/file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/file_system.h"

namespace platform {

namespace {

// An absent (or negative) argument fails every call here with 87 (errno EINVAL).
void FailAbsentArgument() {
  SetLastError(kErrorInvalidParameter);
  errno = EINVAL;
}

}  // namespace

std::string NativeSeparators(std::string path) {
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  return path;
}

FILE* OpenStream(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) {
    FailAbsentArgument();
    return nullptr;
  }
  if (FaultDue(FaultClass::kOpen)) return nullptr;
  return OpenSystemStream(path, mode);
}

FILE* ReopenStream(const char* path, const char* mode, FILE* stream) {
  if (path == nullptr || mode == nullptr || stream == nullptr) {
    FailAbsentArgument();
    return nullptr;
  }
  // A failure before the re-open itself leaves the stream as it was.
  if (FaultDue(FaultClass::kOpen)) return nullptr;
  return ReopenSystemStream(path, mode, stream);
}

int CreatFile(const char* path, uint32_t permission) {
  if (path == nullptr) {
    FailAbsentArgument();
    return -1;
  }
  if (FaultDue(FaultClass::kOpen)) return -1;
  return CreatSystemFile(path, permission);
}

bool RenameFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) {
    FailAbsentArgument();
    return false;
  }
  if (FaultDue(FaultClass::kRemove)) return false;
  return RenameSystemFile(from, to);
}

bool CopyFileOver(const char* source, const char* target) {
  if (source == nullptr || target == nullptr) {
    FailAbsentArgument();
    return false;
  }
  if (FaultDue(FaultClass::kOpen)) return false;
  return CopySystemFileOver(source, target);
}

bool RemoveFile(const char* path) {
  if (path == nullptr) {
    FailAbsentArgument();
    return false;
  }
  if (FaultDue(FaultClass::kRemove)) return false;
  return RemoveSystemFile(path);
}

bool LockStreamRange(FILE* stream, uint64_t offset, uint64_t length) {
  if (FaultDue(FaultClass::kLock)) return false;
  return SetStreamRangeLock(stream, offset, length, true);
}

bool UnlockStreamRange(FILE* stream, uint64_t offset, uint64_t length) {
  return SetStreamRangeLock(stream, offset, length, false);
}

bool SeekStream(FILE* stream, int64_t offset) {
  if (stream == nullptr || offset < 0) {
    FailAbsentArgument();
    return false;
  }
  return SeekSystemStream(stream, offset);
}

UniqueFileHandle CreateTempFile(const char* dir, const char* prefix, std::string* path) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz012345";  // 32 letters
  static constexpr int kNameLength = 16;                                   // 80 random bits
  static constexpr int kTries = 100;
  if (dir == nullptr || path == nullptr) {
    FailAbsentArgument();
    return UniqueFileHandle();
  }
  std::string base(dir);
  if (base.empty() || !IsPathSeparator(base.back())) base += kPathSeparator;
  if (prefix != nullptr) base += prefix;
  for (int tries = 0; tries < kTries; ++tries) {
    unsigned char random[kNameLength];
    RandomBytes(random, sizeof random);
    std::string candidate = base;
    for (unsigned char byte : random) candidate += kAlphabet[byte & 31];
    bool taken = false;
    UniqueFileHandle handle = CreateOwnerOnlyFile(candidate.c_str(), &taken);
    if (taken) continue;
    if (handle.Valid()) *path = candidate;
    return handle;
  }
  SetLastError(kErrorFileExists);
  errno = EEXIST;
  return UniqueFileHandle();
}

bool GetFileStatus(const char* path, FileStatus* status) {
  if (path == nullptr || status == nullptr) {
    FailAbsentArgument();
    return false;
  }
  FileStatus result;
  if (!ReadEntryStatus(path, &result)) return false;
  if (result.is_regular) {
    UniqueFileHandle handle(OpenFileHandle(path, kFileReadAttributes,
                                           kShareRead | kShareWrite | kShareDelete, nullptr,
                                           kOpenExisting, 0));
    if (!handle.Valid() || !GetHandleSize(handle.Get(), &result.size)) return false;
  }
  *status = result;
  return true;
}

bool LockStreamByte(FILE* stream) {
  if (FaultDue(FaultClass::kLock)) return false;
  for (int attempt = 1; attempt <= kByteLockAttempts; ++attempt) {
    switch (TryLockStreamByte(stream)) {
      case ByteLockTry::kLocked:
        return true;
      case ByteLockTry::kFailed:
        return false;
      case ByteLockTry::kHeld:
        break;
    }
    if (attempt < kByteLockAttempts) Sleep(kByteLockPauseMs);
  }
  // As the native blocking lock does after its last attempt.
  SetLastError(kErrorLockViolation);
  errno = EDEADLK;
  return false;
}

size_t ReadStream(void* data, size_t size, FILE* stream) {
  if (FaultDue(FaultClass::kRead)) {
    FailSystemStream(stream, false);
    return 0;
  }
  const size_t got = std::fread(data, 1, size, stream);
  if (got < size && std::ferror(stream)) SetLastErrorFromErrno();
  return got;
}

char* ReadStreamLine(char* line, int size, FILE* stream) {
  if (FaultDue(FaultClass::kRead)) {
    FailSystemStream(stream, false);
    return nullptr;
  }
  char* got = std::fgets(line, size, stream);
  if (got == nullptr && std::ferror(stream)) SetLastErrorFromErrno();
  return got;
}

int FlushStream(FILE* stream) {
  if (stream != nullptr && FaultDue(FaultClass::kWrite)) {
    FailSystemStream(stream, true);
    return EOF;
  }
  if (std::fflush(stream) == 0) return 0;
  SetLastErrorFromErrno();
  return EOF;
}

bool TruncateStreamFile(FILE* stream, uint64_t length) {
  if (stream == nullptr) {
    FailAbsentArgument();
    return false;
  }
  if (FaultDue(FaultClass::kWrite)) {
    FailSystemStream(stream, true);
    return false;
  }
  return TruncateSystemStreamFile(stream, length);
}

bool EmptyStreamFile(FILE* stream) { return TruncateStreamFile(stream, 0); }

}  // namespace platform
