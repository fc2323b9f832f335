// The registry file: the input is the whole .reg text. The product key and a key below it are
// opened and their values read as texts and as numbers, directly and through the settings.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/kssettings.h"
#include "common/test_hooks.h"
#include "fuzz/fuzz_support.h"
#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::PathIn("registry.reg");
  static const bool once = (fuzz::FixTime(), fuzz::SetEnv("KS_REGISTRY", path), true);
  (void)once;
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  const std::string product = platform::kProductKeyPath;
  const std::string keys[] = {product, product + "\\LW_PW\\name"};
  const char* const names[] = {"KSBaseDirectory", "KSLanguageId",      "KSMgrAccount",  "KSOpGroup",
                               "KSToolTimeout",   "Error32RetryCount", "homedir_alice", "@"};
  for (const std::string& key : keys) {
    platform::RegKey raw = nullptr;
    if (platform::RegOpenKeyEx(key.c_str(), platform::RegAccess::kRead, &raw) != 0) continue;
    platform::UniqueRegKey open(raw);
    for (const char* name : names) {
      std::string text;
      uint32_t number;
      platform::RegQueryString(open.get(), name, &text);
      platform::RegQueryDword(open.get(), name, &number);
    }
  }
  KSResetLanguageIdForTest();
  KSRegResetRetryForTest();
  KSGetLanguageId();
  KSRegGetDword(product.c_str(), "KSToolTimeout");
  KSResetLanguageIdForTest();
  return 0;
}
