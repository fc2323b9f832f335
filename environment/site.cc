// Site identity, provisional: the site database directory is ZOV_SITEDB or the installation
// base directory (the site list named by ZOV_SITE is not consulted yet), and localinfo is
// opened with a plain fopen rather than the retrying open of the common layer.

#include "environment/site.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "environment/lwfile.h"
#include "platform/error.h"

namespace {

constexpr size_t kSpoolBufSize = 4096;
constexpr size_t kLineBufSize = 4096;
constexpr const char kLocalInfoPath[] = "/nmap/localinfo";
constexpr const char kWordSeparators[] = ": \n\t\r";

thread_local char sitedb_dir[kPathBufSize];
char spool_dir[kSpoolBufSize];
FILE* message_stream = nullptr;

FILE* Messages() { return message_stream != nullptr ? message_stream : stderr; }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const char* lwfile_sitedb_dir() {
  if (sitedb_dir[0] != '\0') return sitedb_dir;
  const char* dir = std::getenv("ZOV_SITEDB");
  if (dir == nullptr || *dir == '\0') dir = lwfile_base_dir();
  // Too long a directory is refused rather than cut to a different one.
  if (dir == nullptr || std::strlen(dir) >= kPathBufSize) return nullptr;
  std::strcpy(sitedb_dir, dir);
  return sitedb_dir;
}

int svlib_InitSpoolDir(FILE* stream) {
  message_stream = stream;
  if (lwfile_path_spool(spool_dir, sizeof spool_dir, nullptr) < 0) spool_dir[0] = '\0';
  return 0;
}

int svlib_GetLocalMachine(char* out) {
  if (out == nullptr) return -1;
  out[0] = '\0';

  // Without a site there is no localinfo; never fall back to a path at the root.
  if (spool_dir[0] == '\0') {
    std::fprintf(Messages(), "Fail to open(ec=%d)\n",
                 static_cast<int>(platform::kErrorFileNotFound));
    return -1;
  }
  char path[kSpoolBufSize + 1];
  if (std::snprintf(path, sizeof path, "%s%s", spool_dir, kLocalInfoPath) >=
      static_cast<int>(sizeof path)) {
    std::fprintf(Messages(), "Fail to open(ec=%d)\n",
                 static_cast<int>(platform::kErrorFilenameExcedRange));
    return -1;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
  if (!file) {
    std::fprintf(Messages(), "Fail to open(ec=%d)\n",
                 static_cast<int>(platform::ErrorFromErrno(errno)));
    return -1;
  }
  char line[kLineBufSize];
  if (std::fgets(line, sizeof line, file.get()) == nullptr) {
    file.reset();
    std::fprintf(Messages(), "can't read localinfo\n");
    return -1;
  }
  file.reset();

  // The first word is a label; the second is the machine name.
  const char* label = line + std::strspn(line, kWordSeparators);
  const char* after_label = label + std::strcspn(label, kWordSeparators);
  const char* name = after_label + std::strspn(after_label, kWordSeparators);
  size_t name_len = std::strcspn(name, kWordSeparators);
  if (*label == '\0' || name_len == 0 || name_len >= kPathBufSize) {
    std::fprintf(Messages(), "Localinfo file is corrupted\n");
    return -1;
  }
  std::memcpy(out, name, name_len);
  out[name_len] = '\0';
  return 0;
}
