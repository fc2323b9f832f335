#include "cmds/flowtally/testexpr.h"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "cmds/flowtally/letters.h"
#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/runscan.h"
#include "cmds/flowtally/search.h"
#include "platform/file.h"

namespace flowtally {

namespace {

constexpr std::string_view kExprPrefix = "testp=";
constexpr char kOperators[] = "+*!~/";

struct Token {
  std::string_view text;
  uint8_t code;
};

constexpr Token kTokens[] = {
    {"/", kCodeSeparator},
    {"*", kCodeAnd},
    {"+", kCodeOr},
    {"!", kCodeNot},
    {"~", kCodeNot},
    {"hold", kCodeHold},
    {"skip", kCodeSkip},
    {"wait", kCodeWait},
    {"submit", kCodeSubmit},
    {"run", kCodeRun},
    {"done", kCodeDone},
    {"error", kCodeError},
    {"stopped", kCodeStopped},
    {"complete", kCodeComplete},
    {"archived", kCodeArchived},
    {"true", kCodeTrue},
    {"false", kCodeFalse},
};

// The highest stack index an expression may reach: entry 0 is the implicit true value.
constexpr int kStackTop = static_cast<int>(kEvalStackSize) - 1;

std::vector<uint8_t> g_codes;
std::array<int32_t, kEvalStackSize> g_stack;

bool debug_eval() { return g_options.DebugKey == kDebugEval; }

int lookup_token(std::string_view word) {
  for (const Token& t : kTokens) {
    if (t.text == word) return t.code;
  }
  return -1;
}

int pattern_value(uint8_t code, const char* status, const char* extstat, int archived) {
  switch (code) {
    case kCodeHold:
      return has_any_letter(extstat, "hH");
    case kCodeSkip:
      return has_any_letter(extstat, "vs");
    case kCodeWait:
      return std::strcmp(status, "wait") == 0 || std::strcmp(status, "prep") == 0;
    case kCodeSubmit:
      return std::strcmp(status, "submit") == 0;
    case kCodeRun:
      return std::strcmp(status, "run") == 0;
    case kCodeDone:
      return std::strcmp(status, "done") == 0;
    case kCodeError:
      return has_any_letter(extstat, "rf");
    case kCodeStopped:
      return std::strcmp(status, "estop") == 0 ||
             (std::strcmp(status, "run") == 0 && has_any_letter(extstat, "r"));
    case kCodeComplete:
      return std::strcmp(status, "done") == 0 && !has_any_letter(extstat, "rf");
    case kCodeArchived:
      return archived != 0;
    case kCodeTrue:
      return 1;
    default:  // kCodeFalse
      return 0;
  }
}

// What the test reads of the target line; the reader reuses its line for the next one.
struct Target {
  std::string status;
  std::string extstat;
};

// Kind of a candidate line: 0 a network, 1 a job that can be tested, -1 passed over (PC and
// QDRS jobs, content markers).
int candidate_kind(char type) {
  switch (type) {
    case 'J':
      return 0;
    case 'B':
    case 'D':
    case 'U':
    case 'X':
    case 'Z':
      return 1;
    default:
      return -1;
  }
}

}  // namespace

int test_compile() { return test_compile_expression(g_options.test_expr); }

int test_compile_expression(std::string_view argument) {
  g_codes.clear();
  if (argument.substr(0, kExprPrefix.size()) != kExprPrefix) {
    std::fprintf(stderr, "flowtally: Not support expression pattern:%.*s\n",
                 static_cast<int>(argument.size()), argument.data());
    return -1;
  }
  // A terminated copy, so that every suffix can be traced and reported as a C string.
  const std::string rest(argument.substr(kExprPrefix.size()));
  // The stack index the evaluator will reach, followed token by token: only patterns raise it,
  // so refusing here keeps every evaluation inside the stack whatever the text's length.
  int depth = 0;
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t end = rest.find_first_of(kOperators, pos);
    if (end == std::string::npos) {
      end = rest.size();
    } else if (end == pos) {
      end = pos + 1;
    }
    const std::string_view word(rest.data() + pos, end - pos);
    if (debug_eval()) {
      std::fprintf(stderr, "evalinit:len=%" PRIu64 ",cp=%s,tkn=%s,TestExpTable=%d\n",
                   static_cast<uint64_t>(word.size()), rest.c_str() + pos, rest.c_str() + end,
                   static_cast<int>(g_codes.size()));
    }
    const int code = lookup_token(word);
    if (code < 0) {
      std::fprintf(stderr, "flowtally: Invalid expression: %s\n", rest.c_str() + pos);
      g_codes.clear();
      return -1;
    }
    if (code >= kCodeHold) {
      if (++depth > kStackTop) {
        std::fprintf(stderr, "flowtally: Expression stack overflow: more than %d operands.\n",
                     kStackTop);
        g_codes.clear();
        return -1;
      }
    } else if ((code == kCodeAnd || code == kCodeOr) && depth >= 1) {
      --depth;
    }
    if (code != kCodeSeparator) g_codes.push_back(static_cast<uint8_t>(code));
    pos = end;
  }
  return 0;
}

const std::vector<uint8_t>& test_compiled_codes() { return g_codes; }

int test_eval(const char* status, const char* extstat, int archived) {
  if (status == nullptr) status = "";
  if (extstat == nullptr) extstat = "";
  if (debug_eval()) {
    std::fprintf(stderr, "eval:status=%s, extstat=%s, arc=%d\n", status, extstat, archived);
  }
  int index = 0;
  g_stack[0] = 1;
  if (g_codes.empty()) return 1;
  for (uint8_t code : g_codes) {
    int value;
    if (code == kCodeAnd || code == kCodeOr) {
      if (index < 1) {
        std::fputs("flowtally: Underflow of expression stack.\n", stderr);
        return -1;
      }
      --index;
      const int32_t lower = g_stack[index];
      const int32_t upper = g_stack[index + 1];
      if (code == kCodeAnd) {
        value = lower == 0 ? 0 : (upper != 0 ? 1 : 0);
      } else {
        value = (lower != 0 || upper != 0) ? 1 : 0;
      }
      g_stack[index] = value;
    } else if (code == kCodeNot) {
      value = g_stack[index] == 0 ? 1 : 0;
      g_stack[index] = value;
    } else if (code >= kCodeHold && code <= kCodeFalse) {
      // Compilation bounds the depth; this guard only keeps a broken invariant from writing
      // past the stack.
      if (index >= kStackTop) {
        std::fprintf(stderr, "flowtally: Expression stack overflow: more than %d operands.\n",
                     kStackTop);
        return -1;
      }
      value = pattern_value(code, status, extstat, archived);
      g_stack[++index] = value;
    } else {
      std::fprintf(stderr, "flowtally: Expression not supported.(code=%d)\n", code);
      return -1;
    }
    if (debug_eval()) std::fprintf(stderr, "pos(%d),eval(%d),oper(%d)\n", index, value, code);
  }
  return g_stack[index];
}

int test_run(const char* trackername, const char* user) {
  if (g_options.verbose) std::fprintf(stderr, "TEST:TargetJNW=%s\n", trackername);

  char target[kTrackerPathSize];
  char trkpath[kTrackerPathSize];
  const int kind = resolve_component(trackername, user, g_options.component, target, trkpath);
  if (kind < 0) {
    if (g_options.verbose) {
      std::fprintf(stderr, "TEST:Invalid Component specification:%s\n", g_options.component);
    }
    return 2;
  }
  if (g_options.DebugKey == kDebugTestTarget) {
    std::fprintf(stderr, "target component=%s, trk=%s\n", target, trkpath);
  }

  // "I" lets the dump reach an archived tracker; -j prep leaves it out, as the search does.
  ToolOptions options;
  options.Add("O").AddValue(trkpath).Add(" U ").Add(g_options.srch_prep ? "" : "I");
  if (g_options.verbose) std::fprintf(stderr, "TEST: runscan opt=%s\n", options.text().c_str());

  int archived = 0;
  bool found = false;
  Target hit;
  bool first = true;
  ComponentLine line;
  const int rc = runscancmd_jnwdetail(options, [&](const char* text) {
    if (parse_component_line(text, line) != 0) return true;
    // Only the tracker's own line, which a dump prints first, tells whether it is archived.
    if (first && line.type == 'J' && std::strchr(line.extstat, 'a') != nullptr) archived = 1;
    first = false;
    if (candidate_kind(line.type) != kind) return true;
    if (kind == 1 && !equal_nocase(line.name, target)) return true;
    hit.status = line.status;
    hit.extstat = line.extstat;
    found = true;
    return false;
  });
  // A target read from a run that failed is no answer.
  if (rc != 0) return 2;

  if (!found) {
    if (g_options.verbose) std::fprintf(stderr, "Target not found.(%s)\n", target);
    return 2;
  }
  const int value = test_eval(hit.status.c_str(), hit.extstat.c_str(), archived);
  if (g_options.verbose) {
    std::fprintf(stderr, "flowtally: target=%s, status=%s, extstat=%s, eval=%d\n", target,
                 hit.status.c_str(), hit.extstat.c_str(), value);
  }
  if (g_options.show_eval) {
    // The -o file keeps what it holds until this answer is there to take its place.
    if (g_options.output_file[0] != '\0' && !platform::EmptyStreamFile(stdout)) {
      report_output_failed(g_options.output_file, errno);
      std::clearerr(stdout);  // said once
      return 3;
    }
    std::fprintf(stdout, "eval=%d\n", value);
  }
  return value < 0 ? 3 : value;
}

}  // namespace flowtally
