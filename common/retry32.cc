#include "common/retry32.h"

#include <cerrno>

#include "common/kssettings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace {

constexpr uint32_t kCountMin = 1;
constexpr uint32_t kCountMax = 60;
constexpr uint32_t kIntervalMin = 200;
constexpr uint32_t kIntervalMax = 3000;

// Keeps errno and the last-error code of the failure that the caller will report across work
// done between the failing attempt and the report (reading the settings, pausing).
class PreservedError {
 public:
  PreservedError() : saved_errno_(errno), saved_code_(platform::GetLastError()) {}
  ~PreservedError() {
    platform::SetLastError(saved_code_);
    errno = saved_errno_;
  }
  PreservedError(const PreservedError&) = delete;
  PreservedError& operator=(const PreservedError&) = delete;

 private:
  int saved_errno_;
  uint32_t saved_code_;
};

void PausePreservingError(uint32_t milliseconds) {
  PreservedError preserved;
  platform::Sleep(milliseconds);
}

}  // namespace

Retry32Settings retry32_settings() {
  PreservedError preserved;
  uint32_t count = KSRegGetDword(platform::kProductKeyPath, "Error32RetryCount");
  uint32_t interval = KSRegGetDword(platform::kProductKeyPath, "Error32RetryInterval");
  Retry32Settings settings;
  if (count >= kCountMin && count <= kCountMax && interval >= kIntervalMin &&
      interval <= kIntervalMax) {
    settings.count = count;
    settings.interval_ms = interval;
  }
  return settings;
}

bool retry32_run(const std::function<bool()>& attempt) {
  if (attempt()) return true;
  if (platform::GetLastError() != platform::kErrorSharingViolation) return false;
  Retry32Settings settings = retry32_settings();
  for (uint32_t i = 0; i < settings.count; ++i) {
    if (attempt()) return true;
    if (platform::GetLastError() != platform::kErrorSharingViolation) return false;
    PausePreservingError(settings.interval_ms);
  }
  return false;
}

FILE* retry32_fopen(const char* path, const char* mode) {
  FILE* stream = nullptr;
  retry32_run([&] {
    stream = platform::OpenStream(path, mode);
    return stream != nullptr;
  });
  return stream;
}

FILE* retry32_freopen(const char* path, const char* mode, FILE* stream) {
  FILE* result = nullptr;
  retry32_run([&] {
    result = platform::ReopenStream(path, mode, stream);
    return result != nullptr;
  });
  return result;
}

platform::FileHandle retry32_CreateFile(const char* path, uint32_t access, uint32_t sharing,
                                        const platform::FileSecurity* security,
                                        uint32_t disposition, uint32_t attributes,
                                        platform::FileHandle template_file) {
  (void)template_file;
  platform::FileHandle handle = platform::kInvalidFileHandle;
  retry32_run([&] {
    handle = platform::OpenFileHandle(path, access, sharing, security, disposition, attributes);
    return handle != platform::kInvalidFileHandle;
  });
  return handle;
}

int retry32_creat(const char* path, uint32_t permission) {
  int descriptor = -1;
  retry32_run([&] {
    descriptor = platform::CreatFile(path, permission);
    return descriptor >= 0;
  });
  return descriptor;
}

int retry32_rename(const char* from, const char* to) {
  return retry32_run([&] { return platform::RenameFile(from, to); }) ? 0 : -1;
}
