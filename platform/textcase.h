// The letter case of names. The product compares account, file, registry, tracker and JNW names
// without regard to the case of ASCII letters, and only of those: the standard tolower depends
// on the locale, under which other bytes (the lead and trail bytes of two-byte characters among
// them) could change too. Every layer folds case with these.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// c with an ASCII upper-case letter taken as lower case; any other byte as it is.
inline char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

inline std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = FoldCase(c);
  return out;
}

}  // namespace platform
