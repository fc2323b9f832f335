// Dump lines through the loader and both report writers. The first line is a -p argument, the
// second a -c specification; the rest is the spool file that the dump wrote.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/printmode.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/subopts.h"
#include "cmds/flowtally/test_hooks.h"
#include "fuzz/fuzz_support.h"

namespace {

// Takes the text up to the next line feed off *rest.
std::string TakeLine(std::string_view* rest) {
  const size_t end = rest->find('\n');
  std::string line(rest->substr(0, end));
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fixed = (fuzz::FixTime(), true);
  static const std::string spool_path = fuzz::PathIn("spool");
  static FILE* const sink = std::fopen("/dev/null", "w");
  (void)fixed;

  // The spool file keeps every byte, NULs included: the loader counts lengths.
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string print = TakeLine(&rest);
  const std::string component = TakeLine(&rest);
  print = print.substr(0, print.find('\0'));

  flowtally::reset_options_state();
  std::strcpy(flowtally::g_local_machine, "m");
  if (flowtally::parse_print_options(print.data()) != 0) return 0;
  flowtally::copy_truncated(flowtally::g_options.component, flowtally::kOptionTextMax,
                            component.c_str());
  fuzz::WriteFile(spool_path, rest);

  flowtally::summary_reset();
  flowtally::summary_load(spool_path.c_str());
  flowtally::JnwEntry entry;
  entry.user = "opuser";
  entry.trackername = "DAILY.20140930120000";
  const flowtally::ReportSwitches switches = flowtally::print_report_switches(flowtally::g_options);
  flowtally::summary_output_rd(sink, spool_path.c_str(), entry, switches);
  flowtally::summary_output_csv(sink, entry, switches);
  flowtally::summary_reset();
  flowtally::summary_free_names();
  flowtally::print_mode_reset_for_test();
  flowtally::reset_options_state();
  return 0;
}
