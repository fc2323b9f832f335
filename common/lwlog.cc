#include "common/lwlog.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

namespace {

constexpr int kLoggerThreshold = kLogErr;
constexpr size_t kLogTextMax = 1024;
const char* const kLevelNames[] = {"DBG", "NML", "WAR", "ERR"};

// The time text of the common logger; one buffer for the process.
char log_time[64];

bool format_log_time() {
  platform::UtcTime now = platform::ClockNow();
  std::tm tm;
  if (!platform::LocalTime(now.seconds, &tm)) return false;
  char secs[32];
  if (std::strftime(secs, sizeof secs, "%Y/%m/%d %H:%M:%S", &tm) == 0) return false;
  std::snprintf(log_time, sizeof log_time, "%s.%03ld", secs, static_cast<long>(now.milliseconds));
  return true;
}

}  // namespace

int lwlog_trace(int, const char*, int, const char*, const char*, ...) {
  // The trace is never opened by this command: the line is dropped. A caller may trace between
  // a failing call and its own look at the error code, so nothing here may touch errno or the
  // last-error code.
  return -1;
}

int common_logger(const char* source, int line, const char* function, int level, const char* format,
                  ...) {
  if (source == nullptr || function == nullptr || format == nullptr) return -1;
  if (level < kLoggerThreshold) return 0;

  char message[kLogTextMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  if (!format_log_time()) return -1;
  if (level > kLogErr) return -1;

  char head[256];
  std::snprintf(head, sizeof head, "[%s]:%05d:%s:", log_time, platform::CurrentProcessId(),
                kLevelNames[level]);
  std::string text = std::string(head) + source + "(" + std::to_string(line) + "):" + function +
                     "(): " + message + "\n";
  if (text.size() > kLogTextMax) text.resize(kLogTextMax);
  std::fputs(text.c_str(), stderr);
  return 0;
}
