// Search entry lines through the filter, and component specifications resolved against the
// trackers kept. The first line is a -j argument, the second a -c specification; every further
// line is an entry line of the tool.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/subopts.h"
#include "cmds/flowtally/test_hooks.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fixed = (fuzz::FixTime(), true);
  (void)fixed;
  const std::vector<std::string> lines = fuzz::Lines(fuzz::Text(data, size));
  if (lines.size() < 2 || fuzz::EndsTheSearch(lines[0])) return 0;

  flowtally::reset_options_state();
  flowtally::entry_list_clear();
  std::strcpy(flowtally::g_local_machine, "m");
  std::strcpy(flowtally::g_options.user, "u");
  std::string search = lines[0];
  if (flowtally::parse_search_options(search.data()) == 0) {
    flowtally::build_search_options();
    for (size_t i = 2; i < lines.size(); ++i) {
      flowtally::EntryLine entry;
      if (flowtally::parse_entry_line(lines[i].c_str(), &entry) == 0) {
        flowtally::filter_entry(entry);
      }
    }
    for (const flowtally::JnwEntry& e : flowtally::entry_list()) {
      char target[flowtally::kTrackerPathSize];
      char trkpath[flowtally::kTrackerPathSize];
      flowtally::resolve_component(e.trackername.c_str(), e.user.c_str(), lines[1].c_str(), target,
                                   trkpath);
    }
  }
  flowtally::entry_list_clear();
  flowtally::reset_options_state();
  return 0;
}
