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

int compare_nocase(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  // A text's end (0) sorts before every byte, so the shorter of two texts that agree up to it
  // comes first, as with measured texts.
  for (;; ++a, ++b) {
    const auto ca = static_cast<unsigned char>(platform::FoldCase(*a));
    const auto cb = static_cast<unsigned char>(platform::FoldCase(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

}  // namespace flowtally
