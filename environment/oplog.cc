#include "environment/oplog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/ksaccount.h"
#include "common/lwuser.h"
#include "common/retry32.h"
#include "environment/cml.h"
#include "environment/lwfile.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/security.h"

namespace {

constexpr char kProcessMarkName[] = "LWPProcess";
constexpr char kProcessMark[] = "Loomwork";

struct ConfKey {
  const char* key;
  const char* fallback;
};
constexpr ConfKey kOpConf[] = {
    {"op_log", "off"},  {"op_period", "365"},  {"op_generation", "0"},  {"op_maxsize", "1024"},
    {"exe_log", "off"}, {"exe_period", "365"}, {"exe_generation", "0"}, {"exe_maxsize", "1024"},
};
constexpr int kOpConfCount = static_cast<int>(sizeof kOpConf / sizeof kOpConf[0]);

// The joined command line stays below this many characters.
constexpr size_t kCommandLineMax = kOpCommandLineSize - 1;
// The account field holds at most 63 characters; KestruneUserName is cut to 64.
constexpr size_t kAccountFieldSize = 64;
constexpr size_t kUserNameOverrideMax = 64;
constexpr size_t kHostNameMax = 255;
constexpr int kMaxGenerations = 9;

// One line of stream without its line end, however long; false at the end of the stream.
bool ReadLine(FILE* stream, std::string* line) {
  line->clear();
  char chunk[512];
  while (platform::ReadStreamLine(chunk, sizeof chunk, stream) != nullptr) {
    *line += chunk;
    if (!line->empty() && line->back() == '\n') break;
  }
  if (line->empty()) return false;
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
  return true;
}

// The first two blank-separated words of line (tabs do not separate).
void FirstTwoWords(const std::string& line, std::string* key, std::string* value) {
  size_t start = line.find_first_not_of(' ');
  size_t end = start == std::string::npos ? start : line.find(' ', start);
  *key = start == std::string::npos ? "" : line.substr(start, end - start);
  start = end == std::string::npos ? end : line.find_first_not_of(' ', end);
  end = start == std::string::npos ? start : line.find(' ', start);
  *value = start == std::string::npos ? "" : line.substr(start, end - start);
}

// The decimal number that text starts with (after blanks, with a sign); 0 when none.
int64_t LeadingNumber(const char* text) {
  while (*text == ' ') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value < INT64_MAX / 16) value = value * 10 + (*text - '0');
  }
  return negative ? -value : value;
}

void CopyCut(char* dst, size_t cap, const char* text) { std::snprintf(dst, cap, "%s", text); }

// Today's local date as YYYYMMDD; false when the clock cannot be read as a local date.
bool LocalDate(char* date, size_t cap) {
  std::tm tm;
  return platform::LocalTime(platform::ClockNow().seconds, &tm) &&
         std::strftime(date, cap, "%Y%m%d", &tm) != 0;
}

// <sitedb>/spool/log[/<name>] into path; false when it does not fit.
bool LogPath(std::string* path, const char* sitedb, const std::string& name) {
  std::string below = "/spool/log";
  if (!name.empty()) below += "/" + name;
  *path = sitedb + platform::NativeSeparators(below);
  return path->size() < kPathBufSize;
}

std::string DayFileName(const char* date, int generation) {
  std::string name = std::string("record/op/record_op_") + date;
  if (generation > 0) {
    name += '_';
    name += std::to_string(generation);
  }
  name += ".csv";
  return name;
}

// Whether path exists; *failed is set when that cannot be told (a failure other than absence).
bool Exists(const std::string& path, bool* failed) {
  platform::FileStatus status;
  *failed = false;
  if (platform::GetFileStatus(path.c_str(), &status)) return true;
  uint32_t code = platform::GetLastError();
  *failed = code != platform::kErrorFileNotFound && code != platform::kErrorPathNotFound;
  return false;
}

// Creates the empty file path, readable and writable by all as far as the inherited list or
// the creation mask allows, unless it exists. A file that another process has just created is never
// truncated: it may already hold that process's record.
bool CreateEmpty(const std::string& path) {
  platform::UniqueFileHandle handle(retry32_CreateFile(
      path.c_str(), platform::kGenericRead | platform::kGenericWrite,
      platform::kShareRead | platform::kShareWrite | platform::kShareDelete, nullptr,
      platform::kOpenAlways, platform::kFileAttributeNormal, platform::kInvalidFileHandle));
  return handle.Valid();
}

// The log directory's access: full control for the manager account, the operator group,
// Administrators and the creating user (when not the manager); read and execute for Everyone;
// inherited by everything below it.
bool LogDirectorySecurity(platform::FileSecurity* security) {
  security->inheritable = true;
  return KSProductAccessList(true, platform::AccessRights::kReadExecute, &security->list);
}

}  // namespace

int lwlog_op_record(int argc, char** argv, const char* program) {
  const char* mark = std::getenv(kProcessMarkName);
  if (mark != nullptr && std::strcmp(mark, kProcessMark) == 0) return -1;

  // The arguments joined with blanks, below kCommandLineMax characters: at the first argument
  // that does not fit, the blank before it stays and the rest is dropped.
  std::string command_line;
  if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
    command_line.assign(argv[0], strnlen(argv[0], kCommandLineMax));
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
      if (command_line.size() + 1 >= kCommandLineMax) break;
      command_line += ' ';
      size_t length = std::strlen(argv[i]);
      if (command_line.size() + length >= kCommandLineMax) break;
      command_line.append(argv[i], length);
    }
  }

  platform::SetEnvironmentVariable(kProcessMarkName, kProcessMark);

  char enabled[kOpConfValueSize];
  if (lwlog_op_getconf(kOpLog, enabled) != 0 || std::strcmp(enabled, "off") == 0) return 0;

  char record[kOpRecordSize];
  lwlog_op_mkrecord(record, sizeof record, program != nullptr ? program : "", command_line.c_str());
  lwlog_op_write(record);
  return 0;
}

int lwlog_op_getconf(int index, char* dst) {
  if (index < 0 || index >= kOpConfCount || dst == nullptr) return -1;
  char path[kPathBufSize];
  if (lwfile_path_spool_conf(path, sizeof path, "umsconf.f") < 0) return -1;
  platform::UniqueStream stream(retry32_fopen(path, "r"));
  if (!stream) return -1;
  // A line without a value does not set its key: a later line, or the default, does.
  const ConfKey& wanted = kOpConf[index];
  std::string line, key, value;
  while (ReadLine(stream.get(), &line)) {
    FirstTwoWords(line, &key, &value);
    if (key == wanted.key && !value.empty()) {
      CopyCut(dst, kOpConfValueSize, value.c_str());
      return 0;
    }
  }
  CopyCut(dst, kOpConfValueSize, wanted.fallback);
  return 0;
}

void lwlog_op_mkrecord(char* dst, size_t cap, const char* program, const char* command_line) {
  char host[kHostNameMax + 1];
  std::string name;
  if (platform::GetHostName(&name)) {
    CopyCut(host, sizeof host, name.c_str());
  } else {
    std::snprintf(host, sizeof host, "gethostname() error.ec=%u.", platform::GetLastError());
  }

  char account[kAccountFieldSize + 1];
  const char* me = lw_GetUserName();
  if (me != nullptr && std::strlen(me) < kAccountFieldSize) {
    CopyCut(account, sizeof account, me);
  } else {
    uint32_t code = me != nullptr ? platform::kErrorInsufficientBuffer : platform::GetLastError();
    std::snprintf(account, sizeof account, "GetUserName() error.ec=%u.", code);
  }
  if (const char* override_name = std::getenv("KestruneUserName")) {
    std::snprintf(account, sizeof account, "%.*s", static_cast<int>(kUserNameOverrideMax),
                  override_name);
  }

  std::string line = command_line != nullptr ? command_line : "";
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();

  // "%Y/%m/%d %H:%M:%S.mmm(zone)" in local time; NULL when it cannot be formed.
  char when[128] = "NULL";
  platform::UtcTime now = platform::ClockNow();
  std::tm tm;
  char seconds[64];
  if (platform::LocalTime(now.seconds, &tm) &&
      std::strftime(seconds, sizeof seconds, "%Y/%m/%d %H:%M:%S", &tm) != 0) {
    const char* zone = platform::ZoneName(tm.tm_isdst > 0 ? 1 : 0);
    if (zone != nullptr && *zone != '\0') {
      std::snprintf(when, sizeof when, "%s.%03ld(%s)", seconds, static_cast<long>(now.milliseconds),
                    zone);
    }
  }
  std::snprintf(dst, cap, "%s,%s,%s,CMD,%s,%s", when, account, host, program, line.c_str());
  // One invocation is one line: a line break inside an argument or the account name would
  // split the record, or let a caller write lines that look like the records of others.
  for (char* c = dst; *c != '\0'; ++c) {
    if (*c == '\r' || *c == '\n') *c = ' ';
  }
}

int lwlog_op_write(const char* record) {
  char date[16];
  const char* sitedb = lwfile_sitedb_dir();
  if (record == nullptr || sitedb == nullptr || !LocalDate(date, sizeof date)) return -1;
  if (lwlog_op_mkdirs(date, sitedb) != 0) return -1;

  char maxsize[kOpConfValueSize];
  if (lwlog_op_getconf(kOpMaxsize, maxsize) != 0) return -1;
  int64_t limit = LeadingNumber(maxsize);
  limit = limit < 0 ? 0 : (limit > INT64_MAX / 1024 ? INT64_MAX : limit * 1024);

  std::string path;
  if (!LogPath(&path, sitedb, DayFileName(date, 0))) return -1;
  platform::FileStatus status;
  if (CML_stat(path.c_str(), &status) != 0) return -1;
  if (status.size > static_cast<uint64_t>(limit)) {
    int rotated = lwlog_op_rotate(date);
    if (rotated == -2) return 0;
    if (rotated != 0) return -1;
  }

  platform::UniqueStream stream(retry32_fopen(path.c_str(), "a+"));
  if (!stream) return -1;
  // Every appender locks from the first byte, so any two locks overlap: over the current
  // length, or one byte while the file is empty.
  if (std::fseek(stream.get(), 0, SEEK_END) != 0) return -1;
  long length = std::ftell(stream.get());
  uint64_t span = length > 0 ? static_cast<uint64_t>(length) : 1;
  if (!platform::LockStreamRange(stream.get(), 0, span)) return -1;
  // The line reaches the file before the lock goes, so that appenders never interleave.
  bool written = std::fputs(record, stream.get()) >= 0 && std::fputc('\n', stream.get()) != EOF &&
                 platform::FlushStream(stream.get()) == 0;
  // A write that failed may have left part of the line in the file: it is cut off again while
  // the lock is held, so the file holds whole records only.
  if (!written) platform::TruncateStreamFile(stream.get(), static_cast<uint64_t>(length));
  platform::UnlockStreamRange(stream.get(), 0, span);
  return written ? 0 : -1;
}

int lwlog_op_rotate(const char* date) {
  const char* sitedb = lwfile_sitedb_dir();
  char value[kOpConfValueSize];
  if (date == nullptr || sitedb == nullptr || lwlog_op_getconf(kOpGeneration, value) != 0) {
    return -1;
  }
  int64_t generations = LeadingNumber(value);
  if (generations < 0 || generations > kMaxGenerations) return -1;
  if (generations == 0) return -2;

  auto path_of = [&](int generation) {
    std::string path;
    return LogPath(&path, sitedb, DayFileName(date, generation)) ? path : std::string();
  };
  bool failed = false;
  std::string last = path_of(static_cast<int>(generations));
  if (last.empty()) return -1;
  if (Exists(last, &failed)) return -2;
  if (failed) return -1;

  for (int i = static_cast<int>(generations) - 1; i >= 1; --i) {
    std::string from = path_of(i);
    if (from.empty()) return -1;
    if (Exists(from, &failed) && retry32_rename(from.c_str(), path_of(i + 1).c_str()) != 0) {
      return -1;
    }
  }
  std::string day = path_of(0);
  if (day.empty() || retry32_rename(day.c_str(), path_of(1).c_str()) != 0) return -1;

  if (!CreateEmpty(day)) {
    std::fputs("can't create file\n", stderr);
    return -1;
  }
  return 0;
}

int lwlog_op_mkdirs(const char* date, const char* sitedb) {
  if (date == nullptr || sitedb == nullptr) return -1;
  // What is created below spool/log takes its access from the list that spool/log passes on;
  // the process's creation mask then plays no part. Where spool/log passes on no list (it was
  // made by hand, or its file system keeps none), the mask stays in force, so that the
  // records never become writable by everyone.
  std::string path;
  bool failed = false;

  // spool/log carries the log's access list; what is created below it inherits the list.
  if (!LogPath(&path, sitedb, "")) return -1;
  if (!Exists(path, &failed)) {
    platform::FileSecurity security;
    if (failed || !LogDirectorySecurity(&security)) return -1;
    // A failed creation shows in the next lookup.
    platform::CreateDirectory(path.c_str(), &security);
  }
  for (const char* below : {"record", "record/op"}) {
    if (!LogPath(&path, sitedb, below)) return -1;
    if (Exists(path, &failed)) continue;
    // Another command may have made it since the lookup; that one serves as well.
    if (failed || (!platform::CreateDirectory(path.c_str(), nullptr) &&
                   platform::GetLastError() != platform::kErrorAlreadyExists)) {
      return -1;
    }
  }
  if (!LogPath(&path, sitedb, DayFileName(date, 0))) return -1;
  if (!Exists(path, &failed) && (failed || !CreateEmpty(path))) return -1;
  return 0;
}
