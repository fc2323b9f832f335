#include "environment/splitwords.h"

#include <array>

#include "common/kssettings.h"
#include "environment/lwfile.h"

namespace {

// The bytes that neither start nor end a word nor lead a two-byte character: ASCII other than
// the separators, the braces, the carriage return (which may begin a line end) and the
// terminator.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 0x80; ++c) {
    plain[c] = c != '\t' && c != '\n' && c != '\r' && c != ' ' && c != '{' && c != '}';
  }
  return plain;
}();

constexpr auto kSeparator = [] {
  std::array<bool, 256> separator{};
  separator['\t'] = separator['\n'] = separator[' '] = true;
  return separator;
}();

unsigned char At(const char* p) { return static_cast<unsigned char>(*p); }

// One walk over a line: the words found so far and the brace depth. The steps take the walk's
// position and return where it goes on: a position kept in a member would be stored again after
// every terminator written into the line, which may lie anywhere as far as the compiler knows.
class Splitter {
 public:
  Splitter(char* line, char** words, int capacity)
      : start_(line), words_(words), capacity_(capacity), language_id_(g_language_id) {}

  // Walks the whole line; returns the number of words found.
  int Run() {
    char* p = start_;
    while (*p != '\0') {
      const unsigned char c = At(p);
      // Most bytes start or carry on a word (no separator, brace or lead byte), and most
      // separators stand outside braces.
      if (kPlain[c]) {
        p = TakePlainRun(p);
      } else if (depth_ == 0 && kSeparator[c]) {
        if (in_word_) *p = '\0';
        in_word_ = false;
        ++p;
      } else {
        p = TakeOther(p, c);
      }
    }
    return count_;
  }

 private:
  void StartWord(char* at) {
    if (words_ != nullptr && count_ < capacity_) words_[count_] = at;
    ++count_;
    in_word_ = true;
  }

  // From a plain byte at p on: the rest of its word and, outside braces, the separators after it
  // and the words that follow them, word after word, without a round of Run for each byte.
  char* TakePlainRun(char* p) {
    if (!in_word_) StartWord(p);
    for (;;) {
      while (kPlain[At(++p)]) {
      }
      if (depth_ != 0 || !kSeparator[At(p)]) return p;
      *p = '\0';
      while (kSeparator[At(++p)]) {
      }
      if (!kPlain[At(p)]) {
        in_word_ = false;
        return p;
      }
      StartWord(p);
    }
  }

  // The byte c at p: a brace, a separator inside braces, a carriage return, or a byte outside
  // ASCII.
  char* TakeOther(char* p, unsigned char c) {
    if (IsLineEnd(p)) {
      // The line's end (LF or CR LF, or a CR that the reader left when it took the LF away)
      // ends the walk at any depth: nothing of it belongs to a word.
      *p = '\0';
      return p;
    }
    bool starts = false;
    bool ends = false;
    if (kSeparator[c] || (c == '\r' && p[1] == '\n')) {
      // Inside braces a separator is part of the word and neither starts nor ends one.
      ends = depth_ == 0 && in_word_;
    } else if ((c == '{' || c == '}') && !(p > start_ && p[-1] == '\\')) {
      // An unmatched '}' keeps the depth at 0 rather than going negative, where every later
      // separator on the line would stop separating.
      if (c == '}' && depth_ > 0) --depth_;
      if (depth_ == 0) {
        ends = in_word_;
        starts = !in_word_;
      }
      if (c == '{') ++depth_;
    } else {
      starts = !in_word_;
    }
    if (ends) {
      *p = '\0';
      in_word_ = false;
    }
    if (starts) StartWord(p);
    // A lead byte takes the next byte with it, unless the line ends there: a cut two-byte
    // character must not carry the walk past the terminator. No ASCII byte leads one.
    return p + (c >= 0x80 && IsLeadByte(c, language_id_) && p[1] != '\0' ? 2 : 1);
  }

  // Whether p starts the end of the line: a LF or CR LF, or a lone CR, with nothing after it.
  static bool IsLineEnd(const char* p) {
    if (*p == '\r') ++p;
    if (*p == '\n') ++p;
    return *p == '\0';
  }

  char* const start_;
  char** const words_;
  const int capacity_;
  const int language_id_;
  int count_ = 0;
  int depth_ = 0;
  bool in_word_ = false;
};

}  // namespace

int svlib_SplitWords(char* line, char** words, int capacity) {
  if (line == nullptr || *line == '\0') return -1;
  return Splitter(line, words, capacity).Run();
}
