// The site list. The first line is the site looked up; the rest is the installation's
// etc/site.list.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "environment/lwfile.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = fuzz::PathIn("base");
  static const std::string list = fuzz::PathIn("base/etc/site.list");
  static const bool once = [] {
    const std::string registry = fuzz::PathIn("registry.reg");
    fuzz::WriteFile(registry,
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\n"
                    "\"KSBaseDirectory\"=\"" +
                        base + "\"\n");
    fuzz::SetEnv("KS_REGISTRY", registry);
    fuzz::FixTime();
    return true;
  }();
  (void)once;

  std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t end = text.find('\n');
  if (end == std::string_view::npos) return 0;
  std::string site(text.substr(0, end));
  site = site.substr(0, site.find('\0'));
  fuzz::WriteFile(list, text.substr(end + 1));

  char dir[kPathBufSize];
  if (lwfile_sitelist_load_dbpath(site.c_str(), dir, sizeof dir, nullptr) == 0 &&
      std::strlen(dir) >= sizeof dir) {
    std::abort();
  }
  // Too small a buffer is refused, never filled past its end.
  char small[8];
  lwfile_sitelist_load_dbpath(site.c_str(), small, sizeof small, nullptr);
  return 0;
}
