// The word splitter. The first byte picks the language id (0, 1 or 2) and the second the room
// for words (0 to 31); the rest is the line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/kssettings.h"
#include "environment/splitwords.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  g_language_id = data[0] % 3;
  const int capacity = data[1] % 32;
  std::string line = fuzz::Text(data + 2, size - 2);
  std::vector<char*> words(static_cast<size_t>(capacity) + 1, nullptr);

  const int count = svlib_SplitWords(line.data(), words.data(), capacity);
  // Every stored word lies inside the line; nothing is stored beyond the room given.
  const char* begin = line.data();
  const char* end = begin + line.size();
  for (int i = 0; i < count && i < capacity; ++i) {
    if (words[i] < begin || words[i] > end) std::abort();
  }
  if (words[capacity] != nullptr) std::abort();
  // The next call never reads the line of the previous one.
  if (svlib_SplitWords(nullptr, words.data(), capacity) != -1) std::abort();
  g_language_id = 0;
  return 0;
}
