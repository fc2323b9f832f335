// flowtally: summary of the runs (trackers) of job networks.
//
// Exit codes: 0 success or test holds; 1 test does not hold (or a fatal logger error); 2
// nothing found, more than one JNW in test mode, no test target, a component that print mode
// found in no tracker, or a failed tool run; 3 usage or start-up error, a test that cannot be
// evaluated, output that cannot be written, or trackers that print mode could not report. A
// reader that closes the pipe of our output ends the command quietly, as a broken pipe ends a
// process.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/list.h"
#include "cmds/flowtally/machine_values.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/printmode.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/testexpr.h"
#include "common/ksaccount.h"
#include "common/kssettings.h"
#include "common/lwuser.h"
#include "environment/cml.h"
#include "environment/lwfile.h"
#include "environment/oplog.h"
#include "environment/site.h"
#include "environment/sitecodepage.h"
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
int finish_output(int earlier_err = 0) {
  errno = 0;
  const bool flushed = platform::FlushStream(stdout) == 0;
  const int err = flushed ? earlier_err : errno;
  if (flushed && !std::ferror(stdout)) return kExitSuccess;
  if (platform::BrokenPipeSeen()) platform::ExitForBrokenPipe();
  // The reason is known when this flush failed, or when the failed write told the caller.
  report_output_failed(g_options.output_file, err);
  return kExitUsage;
}

// A reader that goes away must turn into a write error, so that print mode stops and removes
// its spool file before the process ends.
void prepare_output() { platform::IgnoreBrokenPipe(); }

// The file of -o keeps its last content until output is about to be written: then it is
// emptied. False, after the message of an output that cannot be written, when it cannot be.
bool start_output_file() {
  if (g_options.output_file[0] == '\0' || platform::EmptyStreamFile(stdout)) return true;
  report_output_failed(g_options.output_file, errno);
  return false;
}

// Memory runs out only in the search, the load or a report; the process then ends the way an
// entry that cannot be made ends it.
[[noreturn]] void out_of_memory() {
  std::fprintf(stderr, "No more memory(ec=%d)\n", ENOMEM);
  std::exit(kExitUsage);
}

// Says why the -o file path could not be opened, after a failed CML_freopen: a name that the
// file-name rules refuse for its length, or a manager account that a new file's access cannot
// name, rather than the bare "Invalid argument" that both leave in errno.
void say_why_not_opened(const char* path) {
  const int err = errno;
  const uint32_t code = platform::GetLastError();
  if (std::strlen(path) >= kCmlPathLimit) {
    std::fprintf(stderr, "flowtally: The file name is too long: %zu characters, at most %zu\n",
                 std::strlen(path), kCmlPathLimit - 1);
    return;
  }
  const bool account_code = code == platform::kErrorInvalidServiceAccount ||
                            code == platform::kErrorNoSuchUser ||
                            code == platform::kErrorNoneMapped;
  if (account_code && KSMgrSid() == nullptr) {
    const char* manager = KSMgrAccountName();
    if (manager == nullptr || manager[0] == '\0') {
      std::fputs(
          "flowtally: No manager account is set (KSMgrAccount): a new file cannot be given "
          "its access\n",
          stderr);
    } else {
      std::fprintf(stderr,
                   "flowtally: The manager account (KSMgrAccount) %s names no user account: a "
                   "new file cannot be given its access\n",
                   manager);
    }
    return;
  }
  std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
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
  set_text_code_page(InstallationCodePage(language_id));

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

  // The file is opened (and created) now, so that a run that cannot write it ends before any
  // search; what it holds stays until there is output to take its place.
  if (g_options.output_file[0] != '\0' &&
      CML_freopen(g_options.output_file, "a", stdout) == nullptr) {
    say_why_not_opened(g_options.output_file);
    std::fprintf(stderr, "Unable to open file:%s\n", g_options.output_file);
    return kExitUsage;
  }

  const int entries = search_trackers();
  if (entries <= 0) {
    std::fputs("No JNW detected.\n", stderr);
    // A reader of the record forms still gets their empty form (a header line, the empty
    // document), on standard output only: an -o file keeps what it held.
    const bool listing_form = g_options.list_format != kListTable;
    const bool print_document = g_options.mode == kModePrint && g_options.prt_format == kFormatJson;
    if ((listing_form || print_document) && g_options.output_file[0] == '\0') {
      prepare_output();
      if (listing_form) {
        list_records(stdout);
      } else {
        json_document_end(stdout);
      }
      if (finish_output() != kExitSuccess) return kExitUsage;
    }
    return kExitNothingFound;
  }

  switch (g_options.mode) {
    case kModeTest: {
      if (entries > 1) {
        std::fputs("Too many JNW detected.\n", stderr);
        return kExitNothingFound;
      }
      // With -V the -o file is emptied when the value is there to be written.
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
      const int printed = print_mode(stdout, g_options.output_file[0] != '\0');
      const int written = finish_output(print_output_errno());
      if (printed == -1 || written != kExitSuccess) return kExitUsage;
      return printed == -2 ? kExitNothingFound : kExitSuccess;
    }
    default:
      if (!start_output_file()) return kExitUsage;
      prepare_output();
      if (g_options.list_format != kListTable) {
        list_records(stdout);
      } else {
        list_trackers(stdout);
      }
      return finish_output();
  }
}

}  // namespace

}  // namespace flowtally

int main(int argc, char** argv) { return flowtally::summary_main(argc, argv); }
