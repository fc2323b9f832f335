// Names compare as the product compares them: byte by byte as unsigned values, with the ASCII
// upper-case letters taken as lower case (so '_' sorts before every letter). Tracker names,
// JNW and component names, and user names all follow this rule.
#pragma once

#include <string_view>

namespace flowtally {

/// -1, 0 or 1; a text that is a prefix of the other sorts first.
int compare_nocase(std::string_view a, std::string_view b);

inline bool equal_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && compare_nocase(a, b) == 0;
}

/// The same for C texts, where a null text reads as "". Walks both texts once, without
/// measuring them first.
int compare_nocase(const char* a, const char* b);
inline bool equal_nocase(const char* a, const char* b) { return compare_nocase(a, b) == 0; }

}  // namespace flowtally
