#include "cmds/flowtally/printmode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/runscan.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_hooks.h"
#include "common/datalink.h"
#include "common/retry32.h"
#include "environment/cml.h"
#include "environment/lwfile.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/signal.h"

namespace flowtally {

namespace {

// Spool file names start with this, followed by an unpredictable part.
constexpr char kSpoolPrefix[] = "flowtally.";

// Set by the dump once the component specification fitted a tracker; it never goes back.
bool g_component_accepted = false;
// Set by the dump once the component specification was checked against a tracker at all, so that a
// run in which no dump got that far does not blame the component specification.
bool g_component_checked = false;
// The reason (errno) of the write to the report's output that failed first, when known.
int g_output_errno = 0;
// Set once a loaded tracker held a record of the component that -c names.
bool g_component_found = false;
// The last line of the messages of the tracker being handled, without its line end: the JSON
// forms' error of a tracker that could not be reported.
std::string g_turn_message;

// Writes a message line of the tracker being handled on standard error, and keeps it.
void say(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  g_turn_message.assign(line, 0, line.find_last_not_of('\n') + 1);
}

bool json_form() {
  return g_options.prt_format == kFormatJson || g_options.prt_format == kFormatJsonLines;
}
bool json_document() { return g_options.prt_format == kFormatJson; }

// A tracker without a report in the JSON forms (its error, or, in the document, the element of a
// tracker that holds nothing of the component), held back while an -o file keeps its old content:
// it is written after the file is emptied, or never when the file stays as it was.
struct WithheldTracker {
  std::string tracker;
  std::string message;  // "" for a tracker that holds nothing of the component
};
std::vector<WithheldTracker> g_withheld;

void tracker_without_report(FILE* out, const std::string& tracker, const std::string& message,
                            bool keep_old) {
  if (keep_old) {
    g_withheld.push_back({tracker, message});
  } else {
    json_tracker_without_report(out, tracker, message, json_document());
  }
}

bool tracing() { return g_options.DebugKey == kDebugPrintDriver; }
bool tracing_dump() { return g_options.DebugKey == kDebugToolDump; }

// The spool file of one tracker. It is created exclusively with an unpredictable name, so no
// other process can have taken the name first or can read the job output it receives (owner
// only), and it is registered for removal on an interrupt for as long as it exists.
class SpoolFile {
 public:
  SpoolFile() = default;
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;
  // A path still held here was neither removed nor kept on purpose: remove it quietly.
  ~SpoolFile() {
    if (!path_.empty() && Unlink() == 0) platform::ClearInterruptCleanupPath();
  }

  // Creates the file in the spool temporary directory. False when the directory is unknown,
  // the file cannot be made, or its path does not fit kSpoolPathSize; no file is left then,
  // and *why says where and why (the directory, then the reason).
  bool Create(std::string* why) {
    char dir[kSpoolPathSize];
    if (lwfile_path_spool_tmp(dir, sizeof dir, nullptr) < 0) {
      *why = "the spool directory of the site is unknown or its path is too long";
      return false;
    }
    // The file is removed through the product's file-name rules; create it under the same
    // name, so that removal finds what creation made.
    if (CML_checkpath(dir) == nullptr) {
      *why = std::string(dir) + ": the path is too long";
      return false;
    }
    std::string path;
    // Held back so that an interrupt cannot fall between creating and registering the file.
    platform::InterruptDeferral deferral;
    errno = 0;
    platform::UniqueFileHandle handle = platform::CreateTempFile(dir, kSpoolPrefix, &path);
    if (!handle.Valid()) {
      *why = std::string(dir) + ": " + platform::ErrnoText(errno);
      return false;
    }
    // Not kept open: the dump writes the file through its own open, and the file cannot be
    // removed while this process holds it.
    handle.Reset();
    if (path.size() >= kSpoolPathSize || !platform::SetInterruptCleanupPath(path.c_str())) {
      platform::RemoveFile(path.c_str());
      *why = std::string(dir) + ": the path of a file there is too long";
      return false;
    }
    path_ = path;
    return true;
  }

  const char* path() const { return path_.c_str(); }

  // Removes the file. A file that another process holds for a moment (a sharing violation) is
  // tried again as the product's file calls are, and any other failure once more, since what
  // stays behind holds job output. A file that is already gone is not worth a word; one that
  // stays behind is, and an interrupt still takes it away.
  void Remove() {
    bool removed = retry32_run([this] { return Unlink() == 0; });
    if (!removed && platform::GetLastError() != platform::kErrorFileNotFound) {
      removed = Unlink() == 0;
    }
    if (!removed && platform::GetLastError() != platform::kErrorFileNotFound) {
      say("flowtally: Unable to remove spool file:" + path_ + "\n");
      path_.clear();
      return;
    }
    platform::ClearInterruptCleanupPath();
    path_.clear();
  }

  // Leaves the file in place (DebugKey 9): an interrupt must not take it away either.
  void Keep() {
    platform::ClearInterruptCleanupPath();
    path_.clear();
  }

 private:
  int Unlink() { return CML_unlink(path_.c_str()); }

  std::string path_;
};

// Writes what print mode has left after a failed step: the trace, and the removal.
void clean_up(SpoolFile& spool) {
  if (tracing()) std::fprintf(stderr, "CML_unlink(by error):%s\n", spool.path());
  spool.Remove();
}

// True when the report could not be written to out; the caller reports that once, at the end.
bool output_failed(FILE* out) {
  errno = 0;
  if (platform::FlushStream(out) != 0) {
    if (g_output_errno == 0) g_output_errno = errno;
    return true;
  }
  return std::ferror(out) != 0;
}

}  // namespace

int print_content_switch(const SummaryOptions& options) {
  return options.prt_format != kFormatCsv && options.prt_output != 0 && options.prt_style >= 1 ? 1
                                                                                               : 0;
}

ReportSwitches print_report_switches(const SummaryOptions& options) {
  const int32_t content = print_content_switch(options);
  ReportSwitches switches{options.prt_style,
                          options.prt_ujonly,
                          options.prt_erronly,
                          options.prt_notitle,
                          content,
                          content};
  switches.quote = options.prt_quote;
  switches.local_times = options.prt_tz == kZoneLocal ? 1 : 0;
  return switches;
}

const char* dump_content_item(int want_first, int want_second) {
  if (want_first != 0 && want_second != 0) return "Foe";
  if (want_first != 0) return "Fo";
  if (want_second != 0) return "Fe";
  return "";
}

ToolOptions build_dump_options(const char* trkpath, int resolved, int want_first, int want_second) {
  const bool nested = resolved == 0 && std::strchr(g_options.component, ':') == nullptr;
  ToolOptions options;
  options.Add("O").AddValue(trkpath).Add(nested ? " Z U " : " U ");
  options.Add(dump_content_item(want_first, want_second)).Add(" ");
  options.Add(g_options.srch_prep != 0 ? "" : "I");
  return options;
}

int summary_dumpdata(const JnwEntry& entry, const char* spool_path, int want_first,
                     int want_second) {
  if (tracing_dump()) {
    std::fprintf(stderr, "OldRunscan=%d\n", 0);
    std::fprintf(stderr, "f_stdout=%d,f_stderr=%d,opt=%s\n", want_first, want_second,
                 dump_content_item(want_first, want_second));
  }

  char target[kTrackerPathSize] = "";
  char trkpath[kTrackerPathSize] = "";
  const int resolved = resolve_component(entry.trackername.c_str(), entry.user.c_str(),
                                         g_options.component, target, trkpath);
  if (tracing_dump()) {
    std::fprintf(stderr, "dump: component:trkid=%s,user=%s,opt=%s,t_obj=%s,t_trkid=%s,rc=%d\n",
                 entry.trackername.c_str(), entry.user.c_str(), g_options.component, target,
                 trkpath, resolved);
  }
  g_component_checked = true;
  if (resolved != 0 && resolved != 1) return -2;
  g_component_accepted = true;

  const ToolOptions options = build_dump_options(trkpath, resolved, want_first, want_second);
  if (g_options.verbose) std::fprintf(stderr, "dump cmdlilne:%s\n", options.text().c_str());
  return runscancmd_redirect(options, spool_path) != 0 ? -1 : 0;
}

namespace {

// How one tracker's turn in print mode ended.
enum class Turn {
  kLoaded,        // its tracker is loaded, for the report
  kReported,      // its report was written, or the component specification does not fit it
  kFailed,        // it could not be reported: print mode ends with a failure
  kOutputBroken,  // the report could not be written: no later tracker is worth a dump
};

// Whether a record of list is the component name, in the network parent when parent is given.
// Names compare without regard to case, except a network's name in CSV and JSON, which those
// reports match exactly.
bool list_holds(void* list, const char* name, const char* parent) {
  const bool exact = parent == nullptr && g_options.prt_format != kFormatReadable;
  for (void* p = dl_first(list, nullptr); p != nullptr; p = dl_next(list, nullptr)) {
    const auto* record = static_cast<const RecordHead*>(p);
    const bool same = exact ? std::strcmp(report_text(record->name), name) == 0
                            : equal_nocase(record->name, name);
    if (same && (parent == nullptr || equal_nocase(record->parentjnw, parent))) {
      return true;
    }
  }
  return false;
}

// Whether the tracker of entry, loaded last, holds a record of the component that the
// specification names: a job of its network, or the network itself. The report's own filters
// (erronly) do not count: a record that they leave out was still found.
bool component_loaded(const JnwEntry& entry) {
  char target[kTrackerPathSize] = "";
  char trkpath[kTrackerPathSize] = "";
  const int kind = resolve_component(entry.trackername.c_str(), entry.user.c_str(),
                                     g_options.component, target, trkpath);
  if (kind == 0) return list_holds(jnw_list(), g_options.component, nullptr);
  if (kind != 1) return false;
  const std::string parent = report_jnw_path(trkpath);
  for (void* list : {unitjob_list(), erpjob_list(), bijob_list(), pcjob_list(), qdrsjob_list(),
                     hlbsjob_list(), customjob_list()}) {
    if (list_holds(list, target, parent.c_str())) return true;
  }
  return false;
}

// Dumps the tracker of entry into spool and loads it. A tracker that the component
// specification does not fit is a turn without a report, not a failure.
Turn dump_and_load(const JnwEntry& entry, SpoolFile& spool) {
  const int content = print_content_switch(g_options);
  if (tracing()) {
    std::fprintf(stderr, "Output: mode=%d, spool=%d, style=%d, sw=%d\n", g_options.prt_format,
                 g_options.prt_output, g_options.prt_style, content);
    std::fprintf(stderr, "summary_dumpdata:tempfile=%s\n", spool.path());
  }
  const int dumped = summary_dumpdata(entry, spool.path(), content, content);
  if (dumped == -1) say("Error at data dumpping.\n");
  if (dumped != 0) {
    clean_up(spool);
    return dumped == -1 ? Turn::kFailed : Turn::kReported;  // -2: nothing to report
  }
  if (tracing()) std::fputs("summary_load\n", stderr);
  if (summary_load(spool.path()) == -1) {
    say("Error at data loading.\n");
    clean_up(spool);
    return Turn::kFailed;
  }
  if (g_load_summary.jnwname == nullptr) {
    say("flowtally: Error at JNW data.\n");
    clean_up(spool);
    return Turn::kFailed;
  }
  return Turn::kLoaded;
}

// Writes the report of the loaded tracker to out, then removes spool (or keeps it, DebugKey 9).
// A file out that still holds what it held before the run is emptied first (*keep_old is then
// cleared), unless the tracker holds nothing of the component asked for (holds false).
Turn write_report(FILE* out, const JnwEntry& entry, SpoolFile& spool, bool holds, bool* keep_old) {
  if (*keep_old && holds) {
    if (!platform::EmptyStreamFile(out)) {
      report_output_failed(g_options.output_file, errno);
      // Nothing of this run was written yet: the message is said, and said once.
      std::clearerr(out);
      spool.Remove();
      return Turn::kOutputBroken;
    }
    *keep_old = false;
    for (const WithheldTracker& t : g_withheld) {
      json_tracker_without_report(out, t.tracker, t.message, json_document());
    }
    g_withheld.clear();
  }
  const ReportSwitches switches = print_report_switches(g_options);
  int written = 0;
  if (json_form() && *keep_old && !holds) {
    // Nothing of this tracker is written into the old content of the file.
    if (json_document()) tracker_without_report(out, entry.trackername, "", true);
  } else if (json_form()) {
    if (tracing()) std::fputs("summary_output_json\n", stderr);
    written = summary_output_json(out, spool.path(), entry, switches, json_document());
  } else if (g_options.prt_format == kFormatCsv) {
    if (tracing()) std::fputs("summary_output_csv\n", stderr);
    written = summary_output_csv(out, entry, switches);
  } else {
    if (tracing()) std::fputs("summary_output_rd\n", stderr);
    written = summary_output_rd(out, spool.path(), entry, switches);
  }
  if (output_failed(out)) {
    spool.Remove();
    return Turn::kOutputBroken;
  }
  if (written == -1) {
    say("Error at data output.\n");
    clean_up(spool);
    return Turn::kFailed;
  }
  if (tracing()) std::fprintf(stderr, "unlink:%s\n", spool.path());
  if (g_options.DebugKey == kDebugPrintComponent) {
    std::fprintf(stderr, "SPOOL FILE:%s\n", spool.path());
    spool.Keep();
  } else {
    spool.Remove();
  }
  return Turn::kReported;
}

// One tracker's turn: a spool file of its own, the dump, the load and the report.
Turn print_tracker(FILE* out, const JnwEntry& entry, bool* keep_old) {
  if (g_options.verbose) std::fprintf(stderr, "Print:%s.\n", entry.trackername.c_str());
  g_turn_message.clear();
  summary_reset();
  SpoolFile spool;
  if (std::string why; !spool.Create(&why)) {
    say("Error at getting the name of tempfile.\n");
    say("flowtally: Unable to create a spool file in " + why + "\n");
    return Turn::kFailed;
  }
  if (tracing()) std::fprintf(stderr, "tempfile=%s\n", spool.path());
  const Turn loaded = dump_and_load(entry, spool);
  if (loaded != Turn::kLoaded) return loaded;
  bool holds = true;  // the tracker holds the component asked for, or none is asked for
  if (g_options.component[0] != '\0') {
    holds = component_loaded(entry);
    if (holds) g_component_found = true;
  }
  return write_report(out, entry, spool, holds, keep_old);
}

}  // namespace

int print_mode(FILE* out, bool keep_old) {
  if (g_options.verbose) std::fputs("Print mode.\n", stderr);
  bool out_broken = false;
  bool failed = false;  // a tracker could not be reported
  for (const JnwEntry& entry : entry_list()) {
    Turn turn = print_tracker(out, entry, &keep_old);
    if (turn == Turn::kFailed) {
      failed = true;
      if (json_form()) {
        tracker_without_report(out, entry.trackername, g_turn_message, keep_old);
        if (output_failed(out)) turn = Turn::kOutputBroken;
      }
    }
    if (turn == Turn::kOutputBroken) {
      // Only a file that could not be emptied leaves its old content: that is a failure too.
      if (keep_old) failed = true;
      // Nothing more can reach the reader: stop dumping trackers nobody will see.
      out_broken = true;
      break;
    }
  }
  if (!out_broken && g_component_checked && !g_component_accepted) {
    std::fprintf(stderr, "Invalid Component specification:%s\n", g_options.component);
  }
  summary_free_names();
  // The document is closed whatever happened to its trackers, unless nothing can be written or
  // the -o file keeps its old content.
  if (json_document() && !out_broken && !keep_old) {
    json_document_end(out);
    output_failed(out);
  }
  g_withheld.clear();
  if (failed) return -1;
  // A component that no tracker holds is nothing found, whatever the reason.
  if (!out_broken && g_options.component[0] != '\0' && !g_component_found) {
    std::fprintf(stderr, "No component %s found.\n", g_options.component);
    return -2;
  }
  return 0;
}

int print_output_errno() { return g_output_errno; }

bool print_component_accepted() { return g_component_accepted; }

void print_mode_reset_for_test() {
  g_component_accepted = false;
  g_component_checked = false;
  g_component_found = false;
  g_output_errno = 0;
}

}  // namespace flowtally
