// Sets of flag letters: the extended-status letters of the tool's lines are tested a set at a
// time.
#pragma once

#include <cstring>

namespace flowtally {

/// Whether text holds any of letters; an absent text holds none.
inline bool has_any_letter(const char* text, const char* letters) {
  return text != nullptr && std::strpbrk(text, letters) != nullptr;
}

}  // namespace flowtally
