// The site's own files: spool/nmap/localinfo and spool/conf/umsconf.f. The first byte picks
// the file (even: localinfo, odd: umsconf.f); the rest is its contents.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "environment/lwfile.h"
#include "environment/oplog.h"
#include "environment/site.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sitedb = fuzz::PathIn("sitedb");
  static const std::string localinfo = fuzz::PathIn("sitedb/spool/nmap/localinfo");
  static const std::string umsconf = fuzz::PathIn("sitedb/spool/conf/umsconf.f");
  static FILE* const sink = std::fopen("/dev/null", "w");
  static const bool once = (fuzz::SetEnv("ZOV_SITEDB", sitedb), svlib_InitSpoolDir(sink), true);
  (void)once;
  if (size < 1) return 0;
  const std::string_view contents(reinterpret_cast<const char*>(data) + 1, size - 1);

  if (data[0] % 2 == 0) {
    fuzz::WriteFile(localinfo, contents);
    char machine[kPathBufSize];
    // A name is one word that fits its buffer.
    if (svlib_GetLocalMachine(machine) == 0 &&
        (machine[0] == '\0' || std::strlen(machine) >= sizeof machine ||
         std::strpbrk(machine, ": \n\t\r") != nullptr)) {
      std::abort();
    }
  } else {
    fuzz::WriteFile(umsconf, contents);
    for (int key = 0; key <= 8; ++key) {
      char value[kOpConfValueSize];
      if (lwlog_op_getconf(key, value) == 0 && std::strlen(value) >= sizeof value) std::abort();
    }
  }
  return 0;
}
