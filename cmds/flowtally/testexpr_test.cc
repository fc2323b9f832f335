#include "cmds/flowtally/testexpr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

class TestExprTest : public StateTest {
 protected:
  ~TestExprTest() override { test_compile_expression("testp="); }
};

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST_F(TestExprTest, CompileCodesAndMessages) {
  struct Case {
    std::string arg;
    int rc;
    std::vector<uint8_t> codes;
    std::string err;
  };
  const Case cases[] = {
      {"testp=", 0, {}, ""},
      {"testp=done", 0, {kCodeDone}, ""},
      {"testp=hold/wait+", 0, {kCodeHold, kCodeWait, kCodeOr}, ""},
      {"testp=run/done+!", 0, {kCodeRun, kCodeDone, kCodeOr, kCodeNot}, ""},
      {"testp=~true/false*", 0, {kCodeNot, kCodeTrue, kCodeFalse, kCodeAnd}, ""},
      {"testp=skip/submit/error/stopped/complete/archived",
       0,
       {kCodeSkip, kCodeSubmit, kCodeError, kCodeStopped, kCodeComplete, kCodeArchived},
       ""},
      {"testp=//", 0, {}, ""},
      {"testp=*", 0, {kCodeAnd}, ""},
      {"testp=Done", -1, {}, "flowtally: Invalid expression: Done\n"},
      {"testp=done/Run+", -1, {}, "flowtally: Invalid expression: Run+\n"},
      {"testp=done +", -1, {}, "flowtally: Invalid expression: done +\n"},
      {"testp=done/", 0, {kCodeDone}, ""},
      {"testp=\"done\"", -1, {}, "flowtally: Invalid expression: \"done\"\n"},
      {"testp=donerun", -1, {}, "flowtally: Invalid expression: donerun\n"},
      {"done+", -1, {}, "flowtally: Not support expression pattern:done+\n"},
      {"Testp=done", -1, {}, "flowtally: Not support expression pattern:Testp=done\n"},
      {"", -1, {}, "flowtally: Not support expression pattern:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(test_compile_expression(c.arg), c.rc); }), c.err);
    EXPECT_EQ(test_compiled_codes(), c.codes);
  }
}

TEST_F(TestExprTest, CompileReadsTheOptionsBlock) {
  copy_truncated(g_options.test_expr, kOptionTextMax, "testp=error/stopped+");
  EXPECT_EQ(test_compile(), 0);
  EXPECT_EQ(test_compiled_codes(), (std::vector<uint8_t>{kCodeError, kCodeStopped, kCodeOr}));
}

TEST_F(TestExprTest, Evaluation) {
  struct Case {
    std::string expr;
    const char* status;
    const char* extstat;
    int archived;
    int want;
  };
  const Case cases[] = {
      // Every pattern, with the letters and words that make it hold or not.
      {"hold", "wait", "h", 0, 1},
      {"hold", "wait", "H", 0, 1},
      {"hold", "wait", "-", 0, 0},
      {"skip", "done", "v", 0, 1},
      {"skip", "done", "s", 0, 1},
      {"skip", "done", "hr", 0, 0},
      {"wait", "wait", "-", 0, 1},
      {"wait", "prep", "-", 0, 1},
      {"wait", "Wait", "-", 0, 0},
      {"wait", "run", "-", 0, 0},
      {"submit", "submit", "-", 0, 1},
      {"submit", "run", "-", 0, 0},
      {"run", "run", "-", 0, 1},
      {"run", "Run", "-", 0, 0},
      {"done", "done", "-", 0, 1},
      {"done", "run", "-", 0, 0},
      {"done", "Done", "-", 0, 0},
      {"done", "done ", "-", 0, 0},
      {"error", "done", "f", 0, 1},
      {"error", "run", "r", 0, 1},
      {"error", "done", "-", 0, 0},
      {"stopped", "estop", "-", 0, 1},
      {"stopped", "run", "r", 0, 1},
      {"stopped", "run", "f", 0, 0},
      {"stopped", "done", "r", 0, 0},
      {"complete", "done", "-", 0, 1},
      {"complete", "done", "hv", 0, 1},
      {"complete", "done", "f", 0, 0},
      {"complete", "done", "r", 0, 0},
      {"complete", "run", "-", 0, 0},
      {"archived", "done", "-", 1, 1},
      {"archived", "done", "a", 0, 0},
      {"true", "x", "", 0, 1},
      {"false", "x", "", 0, 0},
      // Operators and the implicit true value below the expression.
      {"", "run", "-", 0, 1},
      {"done*", "done", "-", 0, 1},
      {"done*", "run", "-", 0, 0},
      {"done+", "run", "-", 0, 1},
      {"!done", "done", "-", 0, 1},
      {"!done", "run", "-", 0, 0},
      {"done!", "done", "-", 0, 0},
      {"done!", "run", "-", 0, 1},
      {"done~", "run", "-", 0, 1},
      {"run/done+!", "run", "-", 0, 0},
      {"run/done+!", "done", "-", 0, 0},
      {"run/done+!", "wait", "-", 0, 1},
      {"hold/wait+", "run", "h", 0, 1},
      {"hold/wait+", "prep", "-", 0, 1},
      {"hold/wait+", "run", "-", 0, 0},
      {"run/error*", "run", "r", 0, 1},
      {"run/error*", "run", "-", 0, 0},
      {"run/error*", "done", "f", 0, 0},
      {"error/stopped+", "estop", "-", 0, 1},
      {"false*", "done", "-", 0, 0},
      {"false+", "done", "-", 0, 1},
      {"done/complete*!", "done", "f", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr + " on " + c.status + "/" + c.extstat);
    ASSERT_EQ(test_compile_expression("testp=" + c.expr), 0);
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(test_eval(c.status, c.extstat, c.archived), c.want); }),
              "");
  }
}

TEST_F(TestExprTest, UnderflowFailsEvaluation) {
  for (const char* expr : {"testp=*", "testp=+", "testp=done**", "testp=!+", "testp=done/+*"}) {
    SCOPED_TRACE(expr);
    ASSERT_EQ(test_compile_expression(expr), 0);
    EXPECT_EQ(stderr_of([] { EXPECT_EQ(test_eval("done", "-", 0), -1); }),
              "flowtally: Underflow of expression stack.\n");
  }
}

TEST_F(TestExprTest, DebugTracesOfCompileAndEvaluation) {
  g_options.DebugKey = kDebugEval;
  int rc = -1;
  EXPECT_EQ(stderr_of([&] { rc = test_compile_expression("testp=done/run+"); }),
            "evalinit:len=4,cp=done/run+,tkn=/run+,TestExpTable=0\n"
            "evalinit:len=1,cp=/run+,tkn=run+,TestExpTable=1\n"
            "evalinit:len=3,cp=run+,tkn=+,TestExpTable=1\n"
            "evalinit:len=1,cp=+,tkn=,TestExpTable=2\n");
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(stderr_of([] { EXPECT_EQ(test_eval("run", "-", 0), 1); }),
            "eval:status=run, extstat=-, arc=0\n"
            "pos(1),eval(0),oper(11)\n"
            "pos(2),eval(1),oper(10)\n"
            "pos(1),eval(1),oper(4)\n");

  // The word that fails is traced before its message.
  EXPECT_EQ(stderr_of([] { EXPECT_EQ(test_compile_expression("testp=x"), -1); }),
            "evalinit:len=1,cp=x,tkn=,TestExpTable=0\n"
            "flowtally: Invalid expression: x\n");
}

TEST_F(TestExprTest, StackStaysBounded) {
  const int top = static_cast<int>(kEvalStackSize) - 1;

  // The longest expression the option can hold pushes 254 values.
  const std::string longest = "testp=" + repeat("run!", 254);
  ASSERT_EQ(longest.size(), kOptionTextMax);
  ASSERT_EQ(test_compile_expression(longest), 0);
  EXPECT_EQ(test_eval("done", "-", 0), 1);  // the top value is "run" inverted

  // As many values as the stack holds, combined on the way down: the deepest slot is used.
  ASSERT_EQ(
      test_compile_expression("testp=" + repeat("true/", top - 1) + "false" + repeat("*", top)), 0);
  EXPECT_EQ(test_eval("done", "-", 0), 0);

  // One more is refused at compile time, not written past the stack.
  EXPECT_EQ(stderr_of([&] {
              EXPECT_EQ(test_compile_expression("testp=" + repeat("true/", top) + "true"), -1);
            }),
            "flowtally: Expression stack overflow: more than 255 operands.\n");
  EXPECT_TRUE(test_compiled_codes().empty());

  // Length alone does not matter: values that are combined as they come never pile up.
  ASSERT_EQ(test_compile_expression("testp=" + repeat("true*", 2000)), 0);
  EXPECT_EQ(test_eval("done", "-", 0), 1);
}

}  // namespace
}  // namespace flowtally
