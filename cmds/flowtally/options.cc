#include "cmds/flowtally/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace flowtally {

SummaryOptions g_options{};
char g_local_machine[kOptionBufSize] = {};

void copy_truncated(char* dst, size_t max_chars, const char* src) {
  size_t n = 0;
  if (src != nullptr) {
    while (n < max_chars && src[n] != '\0') ++n;
    std::memcpy(dst, src, n);
  }
  dst[n] = '\0';
}

int read_decimal(const char* text) {
  if (text == nullptr) return 0;
  int saved = errno;
  long value = std::strtol(text, nullptr, 10);
  errno = saved;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace flowtally
