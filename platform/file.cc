// File services that are the same on every system.
#include "platform/file.h"

#include <string>

namespace platform {

std::string NativeSeparators(std::string path) {
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  return path;
}

}  // namespace platform
