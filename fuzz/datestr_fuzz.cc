// The time-stamp conversions. The input is a stamp; the arithmetic and the local-time
// conversions must agree on what they accept, and a stamp printed back must read the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "environment/datestr.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fixed = (fuzz::FixTime(), true);
  (void)fixed;
  const std::string stamp = fuzz::Text(data, size);

  // The arithmetic knows no century rule, so it agrees with the calendar up to 2099 only.
  constexpr int64_t kYear2100 = 4102444800;
  int64_t t = 0;
  if (svlib_CnvStrTime(stamp.c_str(), &t) == 0 && t > 0 && t < kYear2100) {
    char text[kTimeStampSize];
    svlib_CnvTimeStr(t, text);
    int64_t again = 0;
    // A time value with a stamp reads back as the same value.
    if (std::strcmp(text, "-") != 0 && (svlib_CnvStrTime(text, &again) != 0 || again != t)) {
      std::abort();
    }
  }
  int64_t local = 0;
  svlib_CnvLocalTime(stamp.c_str(), &local);
  char utc[kTimeStampSize] = "";
  svlib_CnvLocalStr(stamp.c_str(), utc);
  if (utc[0] != '\0' && std::strlen(utc) >= kTimeStampSize) std::abort();

  const std::string half = stamp.substr(stamp.size() / 2);
  svlib_CmpStrTime(stamp.c_str(), half.c_str());
  str2time_t(half.c_str());
  // Any 64-bit time value: a stamp or "-", never more than 14 digits.
  if (size >= sizeof(int64_t)) {
    int64_t any;
    std::memcpy(&any, data, sizeof any);
    char text[kTimeStampSize];
    svlib_CnvTimeStr(any, text);
    if (std::strlen(text) >= kTimeStampSize) std::abort();
  }
  return 0;
}
