#include "common/jkr.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "common/ksreg.h"
#include "common/retry32.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/registry.h"

namespace {

// Clears the record and starts its text with the operation's name and line mark.
#define JKR_BEGIN(err) Begin(err, __func__, __LINE__)

void Begin(JkrError* err, const char* operation, int line) {
  *err = JkrError();
  std::snprintf(err->text, sizeof err->text, "%s(%d):", operation, line);
}

void Append(JkrError* err, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(JkrError* err, const char* format, ...) {
  size_t used = std::strlen(err->text);
  if (used + 1 >= sizeof err->text) return;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(err->text + used, sizeof err->text - used, format, ap);
  va_end(ap);
}

// Stores the failure of the operation: error_number, and the current last-error code.
void Record(JkrError* err, int error_number) {
  err->error_number = error_number;
  err->system_code = platform::GetLastError();
}

void RecordInvalid(JkrError* err) {
  platform::SetLastError(platform::kErrorInvalidParameter);
  errno = EINVAL;
  Record(err, EINVAL);
}

const char* Text(const char* s) { return s != nullptr ? s : "(null)"; }

struct FopenPolicy {
  int attempts = kJkrFopenDefaultAttempts;
  uint32_t pause_ms = kJkrFopenDefaultPauseMs;
};

// The decimal number at the start of text (0 when there is none), kept within int range.
long LeadingNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long value = 0;
  for (; *text >= '0' && *text <= '9' && value < 1000000; ++text)
    value = value * 10 + (*text - '0');
  return negative ? -value : value;
}

// fopen_retrytimes set: that many attempts (0, negative or too many: the maximum), 1000 ms
// apart. Not readable: the defaults.
FopenPolicy ReadFopenPolicy() {
  FopenPolicy policy;
  platform::RegKey raw = nullptr;
  if (KSRegOpenKeyEx(KSRegRoot::kLocalMachine, platform::kProductKeyPath, 0,
                     platform::RegAccess::kRead, &raw) != 0) {
    return policy;
  }
  platform::UniqueRegKey key(raw);
  char text[256];
  uint32_t size = sizeof text;
  uint32_t type = kKSRegNone;
  if (KSRegQueryValueEx(key.get(), "fopen_retrytimes", nullptr, &type, text, &size) != 0 ||
      type != kKSRegString) {
    return policy;
  }
  long count = LeadingNumber(text);
  policy.attempts =
      count <= 0 || count > kJkrFopenMaxAttempts ? kJkrFopenMaxAttempts : static_cast<int>(count);
  policy.pause_ms = kJkrFopenSetPauseMs;
  return policy;
}

}  // namespace

int jkr_fopen(FILE** stream, const char* path, const char* mode, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  if (stream != nullptr) *stream = nullptr;
  if (stream == nullptr || path == nullptr || mode == nullptr) {
    RecordInvalid(err);
    Append(err, "%s", Text(path));
    return -1;
  }
  FopenPolicy policy = ReadFopenPolicy();
  for (int attempt = 1; attempt <= policy.attempts; ++attempt) {
    FILE* opened = platform::OpenStream(path, mode);
    if (opened != nullptr) {
      err->error_number = 0;
      err->system_code = 0;
      *stream = opened;
      return 0;
    }
    Record(err, errno);
    if (err->system_code != platform::kErrorSharingViolation) {
      Append(err, "%s", path);
      return -1;
    }
    if (attempt < policy.attempts) platform::Sleep(policy.pause_ms);
  }
  Append(err, "\n Retry was done (times=%d interval=%dms access file(%s).\n ", policy.attempts,
         static_cast<int>(policy.pause_ms), path);
  return -1;
}

char* jkr_fgets(char* buffer, int size, FILE* stream, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  if (buffer == nullptr || size <= 0 || stream == nullptr) {
    RecordInvalid(err);
    return nullptr;
  }
  char* line = platform::ReadStreamLine(buffer, size, stream);
  if (line == nullptr && std::ferror(stream)) {
    platform::SetLastErrorFromErrno();
    Record(err, errno);
  }
  return line;
}

int jkr_fclose(FILE* stream, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  if (stream == nullptr) {
    RecordInvalid(err);
    return -1;
  }
  if (std::fclose(stream) != 0) {
    platform::SetLastErrorFromErrno();
    Record(err, errno);
    return -1;
  }
  return 0;
}

int jkr_cp(const char* source, const char* target, int flags, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  bool copied = false;
  if (source == nullptr || target == nullptr || flags != 0) {
    RecordInvalid(err);
    err->error_number = -1;
  } else {
    copied = retry32_run([&] {
      if (platform::CopyFileOver(source, target)) return true;
      Record(err, -1);
      return false;
    });
  }
  if (copied) return 0;
  Append(err, "%s -> %s", Text(source), Text(target));
  return -1;
}

int jkr_file_lock(FILE* stream, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  if (!platform::LockStreamByte(stream)) {
    Record(err, errno);
    return -1;
  }
  return 0;
}

int jkr_file_unlock(FILE* stream, JkrError* err) {
  JkrError scratch;
  if (err == nullptr) err = &scratch;
  JKR_BEGIN(err);
  if (!platform::UnlockStreamByte(stream)) {
    Record(err, errno);
    return -1;
  }
  return 0;
}
