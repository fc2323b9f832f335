// Test helper for the site list across processes.
//
//   site_lookup_probe                   prints the site database directory this process finds
//   site_lookup_probe --hold-lock MS    takes the site list's byte lock as a writer of the list
//                                       would, prints "locked", holds it MS milliseconds, and
//                                       lets go

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/jkr.h"
#include "environment/lwfile.h"
#include "platform/clock.h"

namespace {

int HoldLock(const char* milliseconds) {
  char lock_path[kPathBufSize];
  if (lwfile_path_etc(lock_path, sizeof lock_path, "site.list.lck") < 0) {
    std::fputs("site_lookup_probe: no installation base directory\n", stderr);
    return 1;
  }
  JkrError err;
  FILE* lock = nullptr;
  if (jkr_fopen(&lock, lock_path, "a", &err) != 0) {
    std::fprintf(stderr, "site_lookup_probe: %s\n", err.text);
    return 1;
  }
  std::rewind(lock);
  if (jkr_file_lock(lock, &err) != 0) {
    std::fprintf(stderr, "site_lookup_probe: %s\n", err.text);
    jkr_fclose(lock, &err);
    return 1;
  }
  std::puts("locked");
  std::fflush(stdout);
  platform::Sleep(static_cast<uint32_t>(std::strtoul(milliseconds, nullptr, 10)));
  jkr_file_unlock(lock, &err);
  jkr_fclose(lock, &err);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--hold-lock") == 0) return HoldLock(argv[2]);

  const char* dir = lwfile_sitedb_dir();
  if (dir == nullptr) {
    std::fputs("site_lookup_probe: no site database directory\n", stderr);
    return 1;
  }
  std::printf("%s\n", dir);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
