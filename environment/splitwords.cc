#include "environment/splitwords.h"

#include <array>

#include "common/kssettings.h"
#include "environment/lwfile.h"

namespace {

// Where the last call stopped; a call without a line resumes here. nullptr when nothing is
// left to split.
char* g_resume = nullptr;

bool IsSeparator(unsigned char c) { return c == '\t' || c == '\n' || c == ' '; }

// The bytes that neither start nor end a word nor lead a two-byte character: ASCII other than
// the separators, the braces and the terminator.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 0x80; ++c) {
    plain[c] = c != '\t' && c != '\n' && c != ' ' && c != '{' && c != '}';
  }
  return plain;
}();

constexpr auto kSeparator = [] {
  std::array<bool, 256> separator{};
  separator['\t'] = separator['\n'] = separator[' '] = true;
  return separator;
}();

unsigned char At(const char* p) { return static_cast<unsigned char>(*p); }

}  // namespace

int svlib_SplitWords(char* line, char** words, int capacity) {
  char* p = line != nullptr ? line : g_resume;
  if (p == nullptr || *p == '\0') return -1;
  const char* start = p;
  const int language_id = g_language_id;
  int count = 0;
  int depth = 0;
  bool in_word = false;

  while (*p != '\0') {
    const unsigned char c = static_cast<unsigned char>(*p);
    // Most bytes start or carry on a word (no separator, brace or lead byte), and most
    // separators stand outside braces.
    if (kPlain[c]) {
      if (!in_word) {
        if (words != nullptr && count < capacity) words[count] = p;
        ++count;
        in_word = true;
      }
      // Outside braces, a word mostly ends at separators that the next word follows: those are
      // taken here, word after word, without a round of the general loop for each byte.
      for (;;) {
        while (kPlain[At(++p)]) {
        }
        if (depth != 0 || !kSeparator[At(p)]) break;
        *p = '\0';
        while (kSeparator[At(++p)]) {
        }
        if (!kPlain[At(p)]) {
          in_word = false;
          break;
        }
        if (words != nullptr && count < capacity) words[count] = p;
        ++count;
      }
      continue;
    }
    if (depth == 0 && IsSeparator(c)) {
      if (in_word) *p = '\0';
      in_word = false;
      ++p;
      continue;
    }
    bool starts = false;
    bool ends = false;
    if (IsSeparator(c)) {
      // Inside braces a separator is part of the word and neither starts nor ends one.
      ends = depth == 0 && in_word;
    } else if ((c == '{' || c == '}') && !(p > start && p[-1] == '\\')) {
      // An unmatched '}' keeps the depth at 0 rather than going negative, where every later
      // separator on the line would stop separating.
      if (c == '}' && depth > 0) --depth;
      if (depth == 0) {
        if (in_word) {
          ends = true;
        } else {
          starts = true;
        }
      }
      if (c == '{') ++depth;
    } else {
      starts = !in_word;
    }

    if (ends) {
      *p = '\0';
      in_word = false;
    }
    if (starts) {
      if (words != nullptr && count < capacity) words[count] = p;
      ++count;
      in_word = true;
    }
    // A lead byte takes the next byte with it, unless the line ends there: a cut two-byte
    // character must not carry the walk past the terminator. No ASCII byte leads one.
    p += c >= 0x80 && IsLeadByte(c, language_id) && p[1] != '\0' ? 2 : 1;
  }
  // The walk always consumes the whole line, so nothing is left to resume. Keeping p (its
  // terminator) instead would leave a pointer into the caller's buffer that a later resuming
  // call would read after the buffer is gone.
  g_resume = nullptr;
  return count;
}
