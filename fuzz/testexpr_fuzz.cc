// Test expressions: the compiler and the evaluator. The first line is the whole -t argument;
// the next two, when given, are a target's status word and extended status letters.
#include <cstdint>
#include <string>
#include <vector>

#include "cmds/flowtally/test_hooks.h"
#include "cmds/flowtally/testexpr.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = fuzz::Lines(fuzz::Text(data, size));
  if (lines.empty()) return 0;
  flowtally::reset_options_state();
  if (flowtally::test_compile_expression(lines[0]) != 0) return 0;

  struct Target {
    const char* status;
    const char* extstat;
  };
  const Target fixed[] = {{"done", ""}, {"run", "r"}, {"wait", "hv"}, {"estop", "f"}};
  for (const Target& t : fixed) {
    for (int archived = 0; archived <= 1; ++archived) {
      flowtally::test_eval(t.status, t.extstat, archived);
    }
  }
  if (lines.size() > 1) {
    flowtally::test_eval(lines[1].c_str(), lines.size() > 2 ? lines[2].c_str() : nullptr, 0);
  }
  return 0;
}
