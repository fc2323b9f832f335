// The path checks: the product's file-name rules, the lock name of a path, and the builders of
// site and user paths. The first line is a path, the second a user name, the third a file name.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "environment/cml.h"
#include "environment/lwfile.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sitedb = fuzz::PathIn("sitedb");
  static const bool once = (fuzz::SetEnv("ZOV_SITEDB", sitedb), true);
  (void)once;
  std::vector<std::string> lines = fuzz::Lines(fuzz::Text(data, size));
  lines.resize(3);

  // A buffer of exactly the text's size, so that any read past its end is caught.
  std::vector<char> path(lines[0].begin(), lines[0].end());
  path.push_back('\0');
  const char* checked = CML_checkpath(path.data());
  if (checked != nullptr && std::strlen(checked) > lines[0].size()) std::abort();
  CML_access_lock_name(lines[0].c_str());

  const std::string& user = lines[1];
  const std::string& name = lines[2];
  char built[kPathBufSize];
  const int n = lwfile_path_user_kstrk(built, sizeof built, user.c_str(), "%s", name.c_str());
  if (n >= 0) {
    // A user path stays below the user's own directory of the site.
    const std::string dir = sitedb + "/spool/users/" + user + "/";
    if (static_cast<size_t>(n) != std::strlen(built) ||
        std::strncmp(built, dir.c_str(), dir.size()) != 0 || user.find('/') != std::string::npos ||
        user == "." || user == "..") {
      std::abort();
    }
  }
  lwfile_path_spool_tmp(built, sizeof built, "%s", name.c_str());
  lwfile_path_spool_tmp(built, 8, "%s", name.c_str());
  return 0;
}
