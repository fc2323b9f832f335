// flowtally: summary of the runs (trackers) of job networks.
//
// Exit codes: 0 success or test holds; 1 test does not hold (or a fatal logger error); 2
// nothing found, more than one JNW in test mode, no test target, or a failed tool run; 3 usage
// or start-up error, a test that cannot be evaluated, output that cannot be written, or
// trackers that print mode could not report. A reader that closes the pipe of our output ends
// the command quietly, as a broken pipe ends a process.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/list.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/printmode.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/testexpr.h"
#include "common/kssettings.h"
#include "common/lwuser.h"
#include "environment/cml.h"
#include "environment/lwfile.h"
#include "environment/oplog.h"
#include "environment/site.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/signal.h"

namespace flowtally {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitTestFalse = 1;
constexpr int kExitNothingFound = 2;
constexpr int kExitUsage = 3;

/// The output buffer of print mode when it writes to a file or a pipe.
constexpr size_t kReportBufferSize = size_t{256} * 1024;

// Results of test_run.
constexpr int kTestTrue = 1;
constexpr int kTestFalse = 0;

// The listing and the report are the command's product: when they could not all be written
// (a full disk under -o, a closed stream), saying so beats exiting with success. A reader that
// went away chose to stop reading: that is no error, and nothing is said.
int finish_output() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int err = errno;
  if (flushed && !std::ferror(stdout)) return kExitSuccess;
  if (platform::BrokenPipeSeen()) platform::ExitForBrokenPipe();
  std::fprintf(stderr, "flowtally: Unable to write output:%s\n",
               g_options.output_file[0] != '\0' ? g_options.output_file : "standard output");
  // The reason is known only when this flush failed; an earlier failed write left no trace.
  if (!flushed && err != 0) {
    std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
  }
  return kExitUsage;
}

// A reader that goes away must turn into a write error, so that print mode stops and removes
// its spool file before the process ends.
void prepare_output() { platform::IgnoreBrokenPipe(); }

// Memory runs out only in the search, the load or a report; the process then ends the way an
// entry that cannot be made ends it.
[[noreturn]] void out_of_memory() {
  std::fprintf(stderr, "No more memory(ec=%d)\n", ENOMEM);
  std::exit(kExitUsage);
}

// "--version" and "--help" answer only as the whole first argument, before anything else
// happens: they neither record the invocation nor need an installation. Returns the exit code,
// or -1 when argv asks for neither.
int answer_long_option(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return -1;
  const bool version = std::strcmp(argv[1], "--version") == 0;
  if (!version && std::strcmp(argv[1], "--help") != 0) return -1;
  prepare_output();
  if (version) {
    std::fputs("flowtally " FLOWTALLY_VERSION "\n", stdout);
  } else {
    usage(stdout, true);
  }
  return finish_output();
}

int summary_main(int argc, char** argv) {
  if (const int answered = answer_long_option(argc, argv); answered >= 0) return answered;
  std::set_new_handler(out_of_memory);
  lwlog_op_record(argc, argv, "flowtally.exe");

  const int language_id = KSGetLanguageId();
  if (language_id < 0) {
    std::fputs("Get SV language ID error\n", stderr);
    usage(stderr, false);
    return kExitUsage;
  }
  g_language_id = language_id;

  if (const char* me = lw_GetUserName(); me != nullptr) {
    copy_truncated(g_options.user, kUserMax, me);
  } else {
    std::fputs("Who are you ?\n", stderr);
  }

  if (parse_options(argc, argv) != 0) {
    usage(stderr, false);
    return kExitUsage;
  }
  if (g_options.mode == kModeTest && test_compile() != 0) {
    usage(stderr, false);
    return kExitUsage;
  }

  svlib_InitSpoolDir(stderr);
  svlib_GetLocalMachine(g_local_machine);

  if (g_options.output_file[0] != '\0' &&
      CML_freopen(g_options.output_file, "w", stdout) == nullptr) {
    std::perror("flowtally");
    std::fprintf(stderr, "Unable to open file:%s\n", g_options.output_file);
    return kExitUsage;
  }

  const int entries = search_trackers();
  if (entries <= 0) {
    std::fputs("No JNW detected.\n", stderr);
    return kExitNothingFound;
  }

  switch (g_options.mode) {
    case kModeTest: {
      if (entries > 1) {
        std::fputs("Too many JNW detected.\n", stderr);
        return kExitNothingFound;
      }
      if (g_options.show_eval) prepare_output();
      const JnwEntry& only = entry_list().front();
      const int result = test_run(only.trackername.c_str(), only.user.c_str());
      // With -V the value on standard output is part of the answer.
      if (g_options.show_eval && finish_output() != kExitSuccess) return kExitUsage;
      if (result == kTestTrue) return kExitSuccess;
      if (result == kTestFalse) return kExitTestFalse;
      // 2 (no target) and 3 (cannot be evaluated) are exit codes themselves; anything else
      // is an evaluation failure too.
      return result == kExitNothingFound ? kExitNothingFound : kExitUsage;
    }
    case kModePrint: {
      prepare_output();
      // A report runs to many megabytes: written in large pieces unless someone watches it.
      if (!platform::IsTerminal(stdout)) {
        std::setvbuf(stdout, nullptr, _IOFBF, kReportBufferSize);
      }
      const int printed = print_mode(stdout);
      const int written = finish_output();
      return printed != 0 ? kExitUsage : written;
    }
    default:
      prepare_output();
      list_trackers(stdout);
      return finish_output();
  }
}

}  // namespace

}  // namespace flowtally

int main(int argc, char** argv) { return flowtally::summary_main(argc, argv); }
