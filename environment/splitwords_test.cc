#include "environment/splitwords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/kssettings.h"
#include "environment/lwfile.h"

namespace {

// Sets the command's language id for the life of the object.
class ScopedLanguage {
 public:
  explicit ScopedLanguage(int id) : old_(g_language_id) { g_language_id = id; }
  ~ScopedLanguage() { g_language_id = old_; }

 private:
  int old_;
};

struct SplitCase {
  int language_id;
  std::string line;
  int capacity;
  int count;
  std::vector<std::string> words;  // the stored words, at most capacity of them
};

TEST(SplitWordsTest, Table) {
  const SplitCase cases[] = {
      {0, "B  name {two words}  x", 20, 4, {"B", "name", "{two words", "x"}},
      {0, "a\\{b c", 20, 2, {"a\\{b", "c"}},
      {0, "a\\}b c", 20, 2, {"a\\}b", "c"}},
      {0, "{}", 20, 1, {"{"}},
      {0, "{} x", 20, 2, {"{", "x"}},
      {0, "J {x {y} z} end", 20, 3, {"J", "{x {y} z", "end"}},
      {0, "a {open to the end", 20, 2, {"a", "{open to the end"}},
      {0, "ab{cd}ef", 20, 3, {"ab", "cd", "ef"}},
      // A line end, LF or CR LF (or the CR that a reader left), never reaches a word; a CR
      // elsewhere is an ordinary byte.
      {0, "\tA\r\nB\n", 20, 2, {"A", "B"}},
      {0, "U job1 done\r\n", 20, 3, {"U", "job1", "done"}},
      {0, "U job1 done\r", 20, 3, {"U", "job1", "done"}},
      {0, "a {open to the end\r\n", 20, 2, {"a", "{open to the end"}},
      {0, "a {open\n", 20, 2, {"a", "{open"}},
      {0, "a\rb \r c\r\r\n", 20, 3, {"a\rb", "\r", "c\r"}},
      {0, "\x81{ x}", 20, 2, {"\x81", "x"}},   // language 0: every byte is a character
      {1, "\x81{ x}", 20, 2, {"\x81{", "x"}},  // trail byte '{' neither nests nor ends
      {2, "a\x82{ b", 20, 2, {"a\x82{", "b"}},
      {2, "{\x82{ c} d", 20, 2, {"{\x82{ c", "d"}},
      {2, "{\x82} c} d", 20, 2, {"{\x82} c", "d"}},
      {2, "\xA0{ b}", 20, 2, {"\xA0", "b"}},  // 0xA0 does not lead under language 2
      {1, "a \x81", 20, 2, {"a", "\x81"}},    // cut two-byte character at the end
      {2, "\x82", 20, 1, {"\x82"}},
      {0, "a b c d e", 3, 5, {"a", "b", "c"}},
      {0, "a b", 0, 2, {}},
      {0, " \t\n ", 20, 0, {}},
      {0, "a } b", 20, 3, {"a", "}", "b"}},  // unmatched '}' keeps separating
      {0, "a} b c", 20, 3, {"a", "b", "c"}},
      {0, "} } {x y} z", 20, 4, {"}", "}", "{x y", "z"}},
  };
  for (const SplitCase& c : cases) {
    ScopedLanguage lang(c.language_id);
    std::vector<char> line(c.line.begin(), c.line.end());
    line.push_back('\0');
    std::vector<char*> words(c.capacity + 1, nullptr);
    EXPECT_EQ(svlib_SplitWords(line.data(), words.data(), c.capacity), c.count) << c.line;
    std::vector<std::string> got;
    for (int i = 0; i < c.capacity && words[i] != nullptr; ++i) got.emplace_back(words[i]);
    EXPECT_EQ(got, c.words) << c.line;
    EXPECT_EQ(words[c.capacity], nullptr) << c.line;  // nothing stored past the capacity
  }
}

TEST(SplitWordsTest, AbsentOrEmptyLine) {
  char* words[4];
  char empty[] = "";
  EXPECT_EQ(svlib_SplitWords(empty, words, 4), -1);
  EXPECT_EQ(svlib_SplitWords(nullptr, words, 4), -1);

  // A call without a line after one with a line finds nothing, and does not look into the
  // previous line: it may be gone.
  std::string line = "a b";
  EXPECT_EQ(svlib_SplitWords(line.data(), words, 4), 2);
  line.assign("c d e");
  EXPECT_EQ(svlib_SplitWords(nullptr, words, 4), -1);
}

}  // namespace
