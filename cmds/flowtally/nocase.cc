#include "cmds/flowtally/nocase.h"

#include "platform/textcase.h"

namespace flowtally {

int compare_nocase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(platform::FoldCase(a[i]));
    const auto cb = static_cast<unsigned char>(platform::FoldCase(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace flowtally
