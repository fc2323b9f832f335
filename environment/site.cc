// Site identity: the spool directory of the site, and the machine name the site recorded for
// itself.

#include "environment/site.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/retry32.h"
#include "environment/lwfile.h"
#include "platform/error.h"
#include "platform/file.h"

namespace {

constexpr size_t kSpoolBufSize = 4096;
// The first line of localinfo is read through a buffer of this size, terminator included.
constexpr size_t kLocalInfoLineSize = 4096;
constexpr const char kLocalInfoPath[] = "/nmap/localinfo";
// Word separators of the localinfo line. A carriage return separates too, so that a localinfo
// written with CRLF line ends gives the name without it.
constexpr const char kWordSeparators[] = ": \n\t\r";

char spool_dir[kSpoolBufSize];
FILE* message_stream = nullptr;

FILE* Messages() { return message_stream != nullptr ? message_stream : stderr; }

}  // namespace

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
  if (std::snprintf(path, sizeof path, "%s%s", spool_dir,
                    platform::NativeSeparators(kLocalInfoPath).c_str()) >=
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
  if (platform::ReadStreamLine(line, sizeof line, file.get()) == nullptr) {
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
