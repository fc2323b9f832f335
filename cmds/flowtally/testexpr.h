// Test mode: postfix status expressions evaluated on one tracker or component.
//
// An expression is the text after "testp=" of the -t argument. It is cut into tokens at the
// operator characters + * ! ~ /: each operator is a token of its own, each run of other
// characters between them is a word, matched exactly (case and blanks count) against the
// patterns hold skip wait submit run done error stopped complete archived true false.
// Patterns push their value (0 or 1); "+" (or) and "*" (and) combine the two top values; "!"
// and "~" invert the top value; "/" only separates. Evaluation starts on an implicit true
// value, so "done*" equals "done", "done+" always holds and "!done" equals "done".
//
// The compiled expression and the value stack are process-wide; single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace flowtally {

/// Entries of the value stack: the implicit true value and up to kEvalStackSize - 1 values
/// that an expression pushes. An expression that could push more is refused when compiled.
inline constexpr size_t kEvalStackSize = 256;

/// Codes of the compiled expression.
enum TestCode : uint8_t {
  kCodeSeparator = 1,  // "/", never stored
  kCodeAnd = 3,        // "*"
  kCodeOr = 4,         // "+"
  kCodeNot = 5,        // "!" and "~"
  kCodeHold = 6,       // extended status holds h or H
  kCodeSkip = 7,       // extended status holds v or s
  kCodeWait = 8,       // status wait or prep
  kCodeSubmit = 9,     // status submit
  kCodeRun = 10,       // status run
  kCodeDone = 11,      // status done
  kCodeError = 12,     // extended status holds r or f
  kCodeStopped = 13,   // status estop, or run with r in the extended status
  kCodeComplete = 14,  // status done without r or f in the extended status
  kCodeArchived = 15,  // the tracker is archived
  kCodeTrue = 16,
  kCodeFalse = 17,
};

/// Compiles the expression of test_expr ('testp="expression"'). 0, or -1 after its message.
int test_compile();

/// Compiles argument, a whole -t argument of any length, into the process-wide expression.
/// Returns 0; -1 (and an empty expression) after one line on standard error:
///   "flowtally: Not support expression pattern:ARG" when argument does not begin "testp=",
///   "flowtally: Invalid expression: REST" for a word that is not a pattern (REST is the text
///   from that word on),
///   "flowtally: Expression stack overflow: more than 255 operands." when the values it could
///   leave on the stack would not fit.
/// With DebugKey 5 each token is traced ("evalinit:len=...").
int test_compile_expression(std::string_view argument);

/// The codes compiled last, in token order, separators left out.
const std::vector<uint8_t>& test_compiled_codes();

/// Evaluates the compiled expression for a target with status word status and extended status
/// letters extstat (null reads as ""); archived tells whether its tracker is archived. Returns
/// 1 (holds) or 0 (does not hold); an empty expression holds. -1 after "flowtally: Underflow of
/// expression stack." when a two-operand operator finds no value of its own above the implicit
/// true one. With DebugKey 5 each step is traced on standard error.
int test_eval(const char* status, const char* extstat, int archived);

/// Evaluates the compiled expression on the tracker (or the -c component of it) of user.
/// Returns 1 when it holds, 0 when it does not, 2 when there is no target, 3 when it cannot be
/// evaluated.
int test_run(const char* trackername, const char* user);

}  // namespace flowtally
