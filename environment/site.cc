// Site identity: which site database directory this thread works on, and the machine name the
// site recorded for itself.

#include "environment/site.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/common_registry.h"
#include "common/jkr.h"
#include "common/retry32.h"
#include "environment/lwfile.h"
#include "platform/error.h"

namespace {

constexpr size_t kSpoolBufSize = 4096;
// The first line of localinfo is read through a buffer of this size, terminator included.
constexpr size_t kLocalInfoLineSize = 4096;
// Site list lines are read through a buffer of this size: a longer line comes in pieces of at
// most kSiteListPieceSize - 1 characters, each taken as a line of its own.
constexpr size_t kSiteListPieceSize = 1024;
// Trailing line feeds and carriage returns removed from a site list line.
constexpr int kSiteListLineEndMax = 2;

constexpr const char kSiteListName[] = "site.list";
constexpr const char kSiteListLockName[] = "site.list.lck";
constexpr const char kLocalInfoPath[] = "/nmap/localinfo";
// Word separators of the localinfo line. A carriage return separates too, so that a localinfo
// written with CRLF line ends gives the name without it.
constexpr const char kWordSeparators[] = ": \n\t\r";

thread_local char sitedb_dir[kPathBufSize];
char spool_dir[kSpoolBufSize];
FILE* message_stream = nullptr;

FILE* Messages() { return message_stream != nullptr ? message_stream : stderr; }

// An environment variable that is set to a non-empty text. An empty value counts as unset, as
// it does on the product's native system, where setting a variable to nothing removes it.
const char* SetVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The lock copy of the site list, open for appending, with its first byte locked while this
// object lives. Readers of the site list serialise on that byte; the file's contents do not
// matter to them.
class SiteListLock {
 public:
  explicit SiteListLock(JkrError* err) : err_(err) {}
  SiteListLock(const SiteListLock&) = delete;
  SiteListLock& operator=(const SiteListLock&) = delete;
  // Letting go has a record of its own, so that the caller's record keeps the failure that
  // ended the lookup.
  ~SiteListLock() {
    JkrError release_err;
    if (locked_) {
      std::rewind(stream_);
      jkr_file_unlock(stream_, &release_err);
    }
    if (stream_ != nullptr) jkr_fclose(stream_, &release_err);
  }

  bool Acquire(const char* path) {
    if (jkr_fopen(&stream_, path, "a", err_) != 0) return false;
    // An append stream may start at the end of the file; every reader must lock the same byte,
    // so the lock is taken at the start whatever the file's size at this moment.
    std::rewind(stream_);
    if (jkr_file_lock(stream_, err_) != 0) return false;
    locked_ = true;
    return true;
  }

 private:
  JkrError* err_;
  FILE* stream_ = nullptr;
  bool locked_ = false;
};

// Enters one site list line (or piece of a line) into the table: "name=directory", the
// directory being everything after the first '=' that follows the name. Leading '=' are not
// part of the name; a line without '=' names a site with an empty directory.
void AddSiteLine(CommonRegObject* table, char* line) {
  size_t len = std::strlen(line);
  for (int i = 0; i < kSiteListLineEndMax && len > 0; ++i) {
    if (line[len - 1] != '\n' && line[len - 1] != '\r') break;
    line[--len] = '\0';
  }
  if (len == 0) return;

  char* name = line + std::strspn(line, "=");
  const char* directory = "";
  if (char* equals = std::strchr(name, '='); equals != nullptr) {
    *equals = '\0';
    directory = equals + 1;
  }
  // The first definition of a name wins; later ones are ignored.
  if (common_reg_find_key(table, name) != nullptr) return;
  common_reg_set_str(common_reg_create_key(table, name), directory);
}

}  // namespace

int lwfile_sitelist_load_dbpath(const char* site, char* dst, size_t cap, JkrError* err) {
  JkrError local_err;
  if (err == nullptr) err = &local_err;
  if (dst != nullptr && cap > 0) dst[0] = '\0';
  if (site == nullptr || dst == nullptr || cap == 0) return -1;

  char list_path[kPathBufSize];
  char lock_path[kPathBufSize];
  if (lwfile_path_etc(list_path, sizeof list_path, "%s", kSiteListName) < 0 ||
      lwfile_path_etc(lock_path, sizeof lock_path, "%s", kSiteListLockName) < 0) {
    return -1;
  }

  // A missing site list is no reason to stop: it is created empty below.
  if (jkr_cp(list_path, lock_path, 0, err) != 0 &&
      err->system_code != platform::kErrorFileNotFound) {
    return -1;
  }
  SiteListLock lock(err);
  if (!lock.Acquire(lock_path)) return -1;

  FILE* list = nullptr;
  if (jkr_fopen(&list, list_path, "a+", err) != 0) return -1;
  // Reading starts at the beginning, wherever the append mode put the stream.
  std::rewind(list);
  UniqueCommonRegistry table(common_reg_create_registry());
  char piece[kSiteListPieceSize];
  while (jkr_fgets(piece, sizeof piece, list, err) != nullptr) {
    AddSiteLine(table.get(), piece);
  }
  // A list that could not be read to its end may lack the entry, or hold only part of it.
  const bool read_whole = !std::ferror(list);
  JkrError close_err;
  jkr_fclose(list, read_whole ? err : &close_err);
  if (!read_whole) return -1;

  CommonRegObject* entry = common_reg_find_key(table.get(), site);
  if (entry == nullptr) return -1;
  const char* directory = common_reg_get_str(entry);
  const size_t len = std::strlen(directory);
  // A directory cut to fit would name another directory.
  if (len >= cap) return -1;
  std::memcpy(dst, directory, len + 1);
  return 0;
}

const char* lwfile_sitedb_dir() {
  if (sitedb_dir[0] != '\0') return sitedb_dir;

  char listed[kPathBufSize];
  const char* dir = SetVariable("ZOV_SITEDB");
  if (dir == nullptr) {
    if (const char* site = SetVariable("ZOV_SITE"); site != nullptr) {
      JkrError err;
      if (lwfile_sitelist_load_dbpath(site, listed, sizeof listed, &err) != 0) return nullptr;
      dir = listed;
    } else {
      dir = lwfile_base_dir();
    }
  }
  // An empty directory would root the site's files at '/', and a longer one than the cache
  // holds would have to be cut to another directory: both are refused, and the cache stays
  // empty so that the next call tries again.
  if (dir == nullptr || *dir == '\0') return nullptr;
  const size_t len = std::strlen(dir);
  if (len >= kPathBufSize) return nullptr;
  std::memcpy(sitedb_dir, dir, len + 1);
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
  platform::UniqueStream file(retry32_fopen(path, "r"));
  if (!file) {
    std::fprintf(Messages(), "Fail to open(ec=%d)\n", static_cast<int>(platform::GetLastError()));
    return -1;
  }
  char line[kLocalInfoLineSize];
  if (std::fgets(line, sizeof line, file.get()) == nullptr) {
    file.reset();
    std::fprintf(Messages(), "can't read localinfo\n");
    return -1;
  }
  file.reset();

  // The first word is a label; the second is the machine name; the rest is ignored.
  const char* label = line + std::strspn(line, kWordSeparators);
  const char* after_label = label + std::strcspn(label, kWordSeparators);
  const char* name = after_label + std::strspn(after_label, kWordSeparators);
  const size_t name_len = std::strcspn(name, kWordSeparators);
  // A name longer than the caller's buffer holds is refused rather than cut.
  if (*label == '\0' || name_len == 0 || name_len >= kPathBufSize) {
    std::fprintf(Messages(), "Localinfo file is corrupted\n");
    return -1;
  }
  std::memcpy(out, name, name_len);
  out[name_len] = '\0';
  return 0;
}
