// The command line: the option scanner and loop, the -j, -p and -l sub-options with their dates,
// and the tool options built from them. One argument per input line.
#include <cstdint>
#include <string>
#include <vector>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/subopts.h"
#include "cmds/flowtally/test_hooks.h"
#include "fuzz/fuzz_support.h"

namespace {

using flowtally::getopt;
using flowtally::optarg;

constexpr char kOptionString[] = "vVd:hu:c:j:p:t:ao:l:";

// Writable copies of the arguments behind an argv, as main receives them.
struct Argv {
  explicit Argv(const std::vector<std::string>& args) : store(args) {
    store.insert(store.begin(), "flowtally");
    for (std::string& s : store) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(store.size()); }
  std::vector<std::string> store;
  std::vector<char*> pointers;
};

// Whether the loop would end the process: -h ends it with 0, an empty "name=" with 2. Both are
// meant; the harness leaves such inputs out. Scans a copy with the command's own scanner.
bool EndsTheProcess(const std::vector<std::string>& args) {
  Argv copy(args);
  flowtally::reset_options_state();
  flowtally::opterr = 0;
  int c;
  while ((c = getopt(copy.argc(), copy.pointers.data(), kOptionString)) != -1) {
    if (c == 'h') return true;
    if (c == 'j' && fuzz::EndsTheSearch(optarg)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fixed = (fuzz::FixTime(), true);
  (void)fixed;
  const std::vector<std::string> args = fuzz::Lines(fuzz::Text(data, size));
  if (EndsTheProcess(args)) return 0;

  flowtally::reset_options_state();
  Argv argv(args);
  if (flowtally::parse_options(argv.argc(), argv.pointers.data()) == 0) {
    flowtally::build_search_options();
  }
  flowtally::reset_options_state();
  return 0;
}
