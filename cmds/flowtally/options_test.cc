#include "cmds/flowtally/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/test_hooks.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

// An argument vector with writable strings, as main receives it.
class Argv {
 public:
  explicit Argv(std::vector<std::string> args) : store_(std::move(args)) {
    store_.insert(store_.begin(), "prog");
    for (std::string& s : store_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(store_.size()); }
  char** argv() { return ptrs_.data(); }

 private:
  std::vector<std::string> store_;
  std::vector<char*> ptrs_;
};

class OptionsTest : public StateTest {};

// Runs the scanner to its end and records each result: the letter, "=optarg" when one came
// back, '?' for an error; then "|" and the final optind.
std::string scan_all(Argv& a) {
  std::string trace;
  int c;
  while ((c = getopt(a.argc(), a.argv(), "vVd:hu:c:j:p:t:ao:")) != -1) {
    if (!trace.empty()) trace += ' ';
    trace += static_cast<char>(c);
    if (optarg != nullptr) trace += std::string("=") + optarg;
  }
  return trace + "|" + std::to_string(optind);
}

TEST_F(OptionsTest, ScannerRules) {
  struct Case {
    std::vector<std::string> args;
    std::string trace;
    std::string err;
  };
  const Case cases[] = {
      {{}, "|1", ""},
      {{"-vV", "-a"}, "v V a|3", ""},
      {{"-dthree"}, "d=three|2", ""},
      {{"-d", "three", "-v"}, "d=three v|4", ""},
      {{"-d", "-v"}, "d=-v|3", ""},  // the next word is the argument whatever it begins with
      {{"-vd3"}, "v d=3|2", ""},
      {{"-u"}, "?|2", "prog: ERROR: Option requires an argument -- u\n"},
      {{"-v", "-u"}, "v ?|3", "prog: ERROR: Option requires an argument -- u\n"},
      {{"-x", "-v"}, "? v|3", "prog: ERROR: Illegal option -- x\n"},
      {{"-xv"}, "? v|2", "prog: ERROR: Illegal option -- x\n"},
      {{"-v:"}, "v ?|2", "prog: ERROR: Illegal option -- :\n"},
      {{"--", "-v"}, "|2", ""},
      {{"-v", "--", "-a"}, "v|3", ""},
      {{"-", "-v"}, "|1", ""},
      {{"file", "-v"}, "|1", ""},
      {{"-v", "file", "-a"}, "v|2", ""},
  };
  for (const Case& c : cases) {
    reset_options_state();
    Argv a(c.args);
    std::string trace;
    const std::string err = stderr_of([&] { trace = scan_all(a); });
    std::string label;
    for (const std::string& s : c.args) label += s + " ";
    EXPECT_EQ(c.trace, trace) << label;
    EXPECT_EQ(c.err, err) << label;
  }
}

TEST_F(OptionsTest, ScannerQuietWithoutOpterr) {
  opterr = 0;
  Argv a({"-x", "-u"});
  EXPECT_EQ("", stderr_of([&] { EXPECT_EQ("? ?|3", scan_all(a)); }));
}

TEST_F(OptionsTest, OptionLoop) {
  const std::string long1500(1500, 'c');
  const std::string longest(kOptionTextMax, 'c');
  const std::string longer(kOptionTextMax + 1, 'c');
  struct Case {
    std::vector<std::string> args;
    int ret;
    std::string err;
    void (*check)(const SummaryOptions&);
  };
  const Case cases[] = {
      {{},
       0,
       "",
       [](const SummaryOptions& o) {
         EXPECT_EQ(kModeList, o.mode);
         EXPECT_EQ(1, o.srch_last);  // no -j at all means "last"
       }},
      {{"-v", "-V", "-a", "-u", "bob", "-o", "out.txt"},
       0,
       "",
       [](const SummaryOptions& o) {
         EXPECT_EQ(1, o.verbose);
         EXPECT_EQ(1, o.show_eval);
         EXPECT_EQ(1, o.all_users);
         EXPECT_STREQ("bob", o.user);
         EXPECT_STREQ("out.txt", o.output_file);
       }},
      {{"-j", "run"}, 0, "", [](const SummaryOptions& o) { EXPECT_EQ(0, o.srch_last); }},
      {{"-d", "3"}, 0, "DebugKey=3\n", [](const SummaryOptions& o) { EXPECT_EQ(3, o.DebugKey); }},
      {{"-dxyz"}, 0, "DebugKey=0\n", [](const SummaryOptions& o) { EXPECT_EQ(0, o.DebugKey); }},
      {{"-d", "99999999999"}, 0, "DebugKey=2147483647\n", nullptr},
      {{"file", "-v"}, 0, "", [](const SummaryOptions& o) { EXPECT_EQ(0, o.verbose); }},
      {{"-u", "a", "-u", "b"}, 0, "", [](const SummaryOptions& o) { EXPECT_STREQ("b", o.user); }},
      {{"-t", "testp=done+"},
       0,
       "",
       [](const SummaryOptions& o) {
         EXPECT_EQ(kModeTest, o.mode);
         EXPECT_STREQ("testp=done+", o.test_expr);
       }},
      {{"-p", "format=csv", "-p", "style=2"},
       0,
       "",
       [](const SummaryOptions& o) {
         EXPECT_EQ(kModePrint, o.mode);
         EXPECT_EQ(1, o.prt_format);
         EXPECT_EQ(2, o.prt_style);
       }},
      {{"-c", longest, "-o", longest, "-t", longest},
       0,
       "",
       [](const SummaryOptions& o) {
         EXPECT_EQ(kOptionTextMax, std::string(o.component).size());
         EXPECT_EQ(kOptionTextMax, std::string(o.output_file).size());
         EXPECT_EQ(kOptionTextMax, std::string(o.test_expr).size());
       }},
      // A longer one is refused, never cut: a cut expression may answer the other way.
      {{"-c", longer, "-v"}, -1, "Component too long (-c component)\n", nullptr},
      {{"-o", longer, "-v"}, -1, "Output file name too long (-o output)\n", nullptr},
      {{"-t", longer, "-v"}, -1, "Test expression too long (-t test)\n", nullptr},
      {{"-t", long1500}, -1, "Test expression too long (-t test)\n", nullptr},
      {{"-u", std::string(kUserMax, 'u')},
       0,
       "",
       [](const SummaryOptions& o) { EXPECT_EQ(kUserMax, std::string(o.user).size()); }},
      {{"-u", std::string(kUserMax + 1, 'u')}, -1, "User name too long (-u user)\n", nullptr},
      {{"-x", "-v"},
       -1,
       "prog: ERROR: Illegal option -- x\nInvalid Option.\n",
       [](const SummaryOptions& o) { EXPECT_EQ(1, o.verbose); }},  // scanning goes on
      {{"-u"}, -1, "prog: ERROR: Option requires an argument -- u\nInvalid Option.\n", nullptr},
      {{"-t", "testp=x", "-p", "format=csv"},
       -1,
       "Don't specify the option -t and -p\n",
       [](const SummaryOptions& o) { EXPECT_EQ(1, o.prt_format); }},  // both were parsed
      {{"-p", "foo", "-x"}, -1, "Invalid option: foo\n", nullptr},    // stops at once
      {{"-j", "last", "-j", "run"},
       -1,
       "Illegal combination (-j last and other options)\n",
       nullptr},
      {{"-j", "name"}, -1, "Invalid parameter (-j name=JNW)\n", nullptr},
  };
  for (const Case& c : cases) {
    reset_options_state();
    Argv a(c.args);
    int ret = 0;
    const std::string err = stderr_of([&] { ret = parse_options(a.argc(), a.argv()); });
    std::string label;
    for (const std::string& s : c.args) label += s.substr(0, 20) + " ";
    EXPECT_EQ(c.ret, ret) << label;
    EXPECT_EQ(c.err, err) << label;
    if (c.check != nullptr) c.check(g_options);
  }
}

TEST_F(OptionsTest, HelpEndsTheProcessWithZero) {
  Argv help({"-h", "-x"});
  EXPECT_EXIT(parse_options(help.argc(), help.argv()), testing::ExitedWithCode(0),
              "^Usage: flowtally \\[-j JNWsearch\\]");
  // An earlier scanner error is reported, then -h still wins.
  Argv bad_then_help({"-x", "-h"});
  EXPECT_EXIT(parse_options(bad_then_help.argc(), bad_then_help.argv()), testing::ExitedWithCode(0),
              "^prog: ERROR: Illegal option -- x\nUsage: flowtally");
}

TEST_F(OptionsTest, UsageTexts) {
  EXPECT_EQ("Usage: flowtally [options...]|-h\n", stderr_of([] { usage(stderr, false); }));

  const std::string text = stderr_of([] { usage(stderr, true); });
  int lines = 0;
  int empty = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    ++lines;
    if (i > 0 && text[i - 1] == '\n') ++empty;
  }
  EXPECT_EQ(20, lines);
  EXPECT_EQ(4, empty);
  EXPECT_EQ('\n', text.back());
}

TEST(CopyTruncatedTest, CutsAndTerminates) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  copy_truncated(buf, 4, "abcdefgh");
  EXPECT_STREQ("abcd", buf);
  copy_truncated(buf, 4, "ab");
  EXPECT_STREQ("ab", buf);
  copy_truncated(buf, 4, nullptr);
  EXPECT_STREQ("", buf);
}

}  // namespace
}  // namespace flowtally
