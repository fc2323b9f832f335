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
    n = strnlen(src, max_chars);
    std::memcpy(dst, src, n);
  }
  dst[n] = '\0';
}

int read_decimal(const char* text) {
  if (text == nullptr) return 0;
  // Plain digits that cannot overflow need no conversion call.
  int value_of_digits = 0;
  int digits = 0;
  while (digits < 9 && text[digits] >= '0' && text[digits] <= '9') {
    value_of_digits = value_of_digits * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits > 0 && text[digits] == '\0') return value_of_digits;
  int saved = errno;
  long value = std::strtol(text, nullptr, 10);
  errno = saved;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace flowtally
