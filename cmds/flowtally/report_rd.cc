// The readable report of one tracker, and the print operations that the job records carry.
#include "cmds/flowtally/report_rd.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cmds/flowtally/line_piece.h"
#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/search.h"
#include "environment/cml.h"
#include "platform/error.h"
#include "platform/file.h"

namespace flowtally {

namespace {

/// The window of the spool file that content blocks are copied from: each job type walks the
/// file again, mostly forwards, so a large window keeps the reads and seeks few.
constexpr size_t kSpoolWindowSize = size_t{1024} * 1024;

constexpr char kTimeFormat[] = "%y-%m-%d %H:%M'%S";
constexpr char kUnset[] = "-";
constexpr char kCountRule[] = "----------------------------------------------------------\n";
constexpr char kContentRule[] =
    "------------------------------------------------------------------\n";

// The lines of one block of the report (a record's common lines, a type block) are gathered in
// one OutputBuffer and written at once.

// A "LABEL     : value" line.
void put_label_line(OutputBuffer& text, const char* label, const char* value) {
  text.Label(label).Put(value).Put('\n');
}

void print_status(OutputBuffer& text, int32_t status_class) {
  text.Label("STATUS").Put(status_class_info(status_class).readable).Put('\n');
}

void print_time_line(OutputBuffer& text, const char* label, int64_t actual, int64_t expected) {
  const TimeText a = report_local_time<kTimeFormat>(actual, kUnset);
  const TimeText e = report_local_time<kTimeFormat>(expected, kUnset);
  text.Label(label).Put(a.view(), 20).Put("   (EXP. ").Put(e.view()).Put(")\n");
}

void print_amount(OutputBuffer& text, int64_t start, int64_t end) {
  if (start < 1 || end < 1) {
    put_label_line(text, "AMOUNTTIME", kUnset);
    return;
  }
  // An end before the start (a clock set back) is shown as a negative duration with one sign,
  // not with a sign on every field.
  const int64_t d = end - start;
  const uint64_t magnitude = d < 0 ? 0 - static_cast<uint64_t>(d) : static_cast<uint64_t>(d);
  text.Label("AMOUNTTIME")
      .Put(d < 0 ? "-" : "")
      .PutNumber(static_cast<int64_t>(magnitude / 3600))
      .Put(':')
      .PutTwoDigits(static_cast<int>(magnitude / 60 % 60))
      .Put('\'')
      .PutTwoDigits(static_cast<int>(magnitude % 60))
      .Put('\n');
}

void print_counts(FILE* out, const CountTable& table) {
  struct Row {
    const char* label;
    int block;
  };
  static constexpr Row kRows[] = {
      {"ALL", kBlockAll},      {"UJ", kBlockUnit},     {"ERP", kBlockErp},    {"BI", kBlockBi},
      {"JNW", kBlockJnw},      {"PC", kBlockPc},       {"QDRSJ", kBlockQdrs}, {"HLBSJ", kBlockHlbs},
      {"CSTMJ", kBlockCustom}, {"OTHER", kBlockOther},
  };
  std::fprintf(out, "COUNT: %5s %5s(%5s,%5s) %5s %5s(%5s) %5s\n", "TOTAL", "WAIT", "hold", "skip",
               "RUN", "DONE", "skip", "ERROR");
  std::fputs(kCountRule, out);
  for (const Row& row : kRows) {
    const CountBlock& b = table.block[row.block];
    // The counters are unsigned: a count beyond 2^31 must not turn negative.
    std::fprintf(out, "%5s: %5u %5u(%5u,%5u) %5u %5u(%5u) %5u\n", row.label, b.component, b.wait,
                 b.waithold, b.waitskip, b.run, b.done, b.doneskip, b.error);
  }
}

void print_summary(FILE* out, const JnwEntry& entry) {
  {
    OutputBuffer text(out);
    text.Put("**** SUMMARY ****\n");
    put_label_line(text, "TRACKER-ID", entry.trackername.c_str());
    print_status(text, g_load_summary.status);
    print_time_line(text, "START TIME", g_load_summary.starttime, g_load_summary.expstarttime);
    print_time_line(text, "END TIME", g_load_summary.endtime, g_load_summary.expendtime);
    print_amount(text, g_load_summary.starttime, g_load_summary.endtime);
    put_label_line(text, "USER", entry.user.c_str());
  }
  print_counts(out, g_load_table);
}

// The window onto the spool stream that the content blocks are copied from. The stream is read
// only through the window, which may keep it between blocks.
BlockReader g_window(kSpoolWindowSize);
// The spool stream of the job sections being written, which the window may keep between blocks;
// null outside them.
FILE* g_sections_spool = nullptr;

// Copies the content block whose marker line (letter) starts at offset in spool, without the
// lines' leading TABs. A line that the tool ended with CR LF is written with its LF alone: the
// output stream writes line ends the system's way. Returns 0, or -1 when there is no block at
// offset.
int print_content(OutputBuffer& text, FILE* spool, char letter, int64_t offset) {
  if (spool == nullptr || offset < 1) return -1;
  // Any other stream has an unknown position, and what the window holds may be of another file
  // that the stream's address served before.
  if (spool != g_sections_spool || spool != g_window.stream()) g_window.Reset(spool, -1);
  const bool found =
      content_block_pieces(g_window, letter, offset, [&](std::string_view piece, bool line_end) {
        text.Put(piece);
        if (line_end) text.Put('\n');
      });
  return found ? 0 : -1;
}

void print_content_block(FILE* out, FILE* spool, const char* label, char letter, int64_t offset) {
  OutputBuffer text(out);
  text.Put(label).Put(kContentRule);
  print_content(text, spool, letter, offset);
  text.Put(kContentRule);
}

void print_exit_error(OutputBuffer& text, int32_t errclass, int32_t code) {
  // A job ends either with an exit code (error class 0) or with an error class and code.
  text.Label("EXIT CODE").PutNumber(errclass == 0 ? code : 0).Put('\n');
  text.Label("ERROR CODE")
      .PutNumber(errclass)
      .Put('/')
      .PutNumber(errclass != 0 ? code : 0)
      .Put('\n');
}

// Writes the records of one sorted view that pass the filters. With a name filter, only the
// first record named name_filter under parent_filter is written. Returns true when a record was
// written.
bool print_type_section(FILE* out, FILE* spool, const ReportSwitches& switches,
                        const SortedView& view, const char* name_filter,
                        const char* parent_filter) {
  bool written = false;
  for (const RecordHead* head : view) {
    const auto* record = static_cast<const JobRecord*>(head);
    if (!report_job_kept(*record, switches, name_filter, parent_filter)) continue;
    if (!written && record->print_heading != nullptr) record->print_heading(out);
    written = true;
    if (record->print_common != nullptr) record->print_common(out, record);
    if (switches.style >= 2 && record->print_type_block != nullptr) {
      record->print_type_block(out, record);
    }
    if (switches.first_content && record->print_first_content != nullptr) {
      record->print_first_content(out, spool, record);
    }
    if (switches.second_content && record->print_second_content != nullptr) {
      record->print_second_content(out, spool, record);
    }
    OutputBuffer(out).Put('\n');
    if (name_filter != nullptr) break;
  }
  return written;
}

// All job sections, in the fixed type order. With a name filter, the first type that writes the
// component ends the walk. Returns 0, or -1 when the spool file cannot be opened for the content
// blocks (no section is written then) or cannot be read (the sections stop short).
int print_type_sections(FILE* out, const char* spool_path, const ReportSwitches& switches,
                        const char* name_filter, const char* parent_filter) {
  platform::UniqueStream spool;
  if (switches.first_content || switches.second_content) {
    spool = report_open_spool(spool_path);
    if (spool == nullptr) return -1;
  }
  // The stream stands at its start until the window reads it; the window forgets it before it
  // is closed.
  struct WindowScope {
    explicit WindowScope(FILE* spool) {
      g_window.Reset(spool, 0);
      g_sections_spool = spool;
    }
    ~WindowScope() {
      g_window.Reset(nullptr, -1);
      g_sections_spool = nullptr;
    }
  } window(spool.get());
  void* const lists[] = {unitjob_list(), erpjob_list(),  bijob_list(),    pcjob_list(),
                         qdrsjob_list(), hlbsjob_list(), customjob_list()};
  for (void* list : lists) {
    if (list == nullptr) continue;
    const bool written = print_type_section(out, spool.get(), switches, sorted_view(list),
                                            name_filter, parent_filter);
    if (name_filter != nullptr && written) break;
  }
  if (g_window.failed()) {
    report_spool_unreadable(spool_path, g_window.error());
    return -1;
  }
  return 0;
}

void print_jnw_record(FILE* out, const JnwRecord* record, const ReportSwitches& switches) {
  print_common(out, record);
  if (switches.style >= 2) print_counts(out, record->counts);
  std::fputs("\n", out);
}

int output_whole(FILE* out, const char* spool_path, const JnwEntry& entry,
                 const ReportSwitches& switches) {
  print_summary(out, entry);
  if (switches.style < 1) return 0;
  if (!switches.ujonly && jnw_list() != nullptr) {
    bool heading = false;
    for (const RecordHead* head : sorted_view(jnw_list())) {
      const auto* record = static_cast<const JnwRecord*>(head);
      if (switches.erronly && !status_class_info(record->status).error) continue;
      if (!heading) std::fputs("**** JNW ****\n", out);
      heading = true;
      print_jnw_record(out, record, switches);
    }
  }
  // A spool file that cannot be opened or read costs the job sections of this tracker: what was
  // written stands, and the tracker counts as not reported.
  return print_type_sections(out, spool_path, switches, nullptr, nullptr);
}

int output_component(FILE* out, const char* spool_path, const JnwEntry& entry,
                     ReportSwitches switches) {
  if (switches.style == 0) switches.style = 1;
  char target[kTrackerPathSize];
  char trkpath[kTrackerPathSize];
  const int kind = resolve_component(entry.trackername.c_str(), entry.user.c_str(),
                                     g_options.component, target, trkpath);
  if (kind < 0) return 0;  // the component specification does not fit this tracker: nothing to show
  if (kind == 1) {
    return print_type_sections(out, spool_path, switches, target, report_jnw_path(trkpath).c_str());
  }
  if (jnw_list() == nullptr) return 0;
  for (const RecordHead* head : sorted_view(jnw_list())) {
    const auto* record = static_cast<const JnwRecord*>(head);
    if (!equal_nocase(record->name, g_options.component)) continue;
    if (switches.erronly && !status_class_info(record->status).error) continue;
    std::fputs("**** JNW ****\n", out);
    print_jnw_record(out, record, switches);
    break;
  }
  return 0;
}

}  // namespace

int summary_output_rd(FILE* out, const char* spool_path, const JnwEntry& entry,
                      const ReportSwitches& switches) {
  if (g_options.component[0] == '\0') return output_whole(out, spool_path, entry, switches);
  return output_component(out, spool_path, entry, switches);
}

// ---- Print operations ---------------------------------------------------------------------------

void print_common(FILE* out, const RecordHead* record) {
  OutputBuffer text(out);
  put_label_line(text, "NAME", report_text(record->name));
  put_label_line(text, "PARENT", report_text(record->parentjnw));
  print_status(text, record->status);
  print_time_line(text, "START TIME", record->starttime, record->expstarttime);
  print_time_line(text, "END TIME", record->endtime, record->expendtime);
  print_amount(text, record->starttime, record->endtime);
}

void print_unitjob_heading(FILE* out) { std::fputs("**** UNITJOB ****\n", out); }
void print_customjob_heading(FILE* out) { std::fputs("**** CUSTOMJOB ****\n", out); }
void print_qdrsjob_heading(FILE* out) { std::fputs("**** QDRSJOB ****\n", out); }
void print_hlbsjob_heading(FILE* out) { std::fputs("**** HLBSJOB ****\n", out); }
void print_erpjob_heading(FILE* out) { std::fputs("**** ERP JOB ****\n", out); }
void print_pcjob_heading(FILE* out) { std::fputs("**** PC JOB ****\n", out); }
void print_bijob_heading(FILE* out) { std::fputs("**** BI JOB ****\n", out); }

void print_unitjob_block(FILE* out, const JobRecord* record) {
  const auto* r = static_cast<const UnitJob*>(record);
  OutputBuffer text(out);
  print_exit_error(text, r->errclass, r->code);
  put_label_line(text, "EXEC MAC", report_text(r->machine));
  put_label_line(text, "REQUEST-ID", report_text(r->requestid));
}

void print_qdrsjob_block(FILE* out, const JobRecord* record) {
  const auto* r = static_cast<const QdrsJob*>(record);
  OutputBuffer text(out);
  print_exit_error(text, r->errclass, r->code);
}

void print_erpjob_block(FILE* out, const JobRecord* record) {
  const auto* r = static_cast<const ErpJob*>(record);
  OutputBuffer text(out);
  put_label_line(text, "EXEC MACH", report_text(r->machine));
  put_label_line(text, "JOB COUNT", report_text(r->jobcount));
}

void print_pcjob_block(FILE* out, const JobRecord* record) {
  OutputBuffer text(out);
  put_label_line(text, "PCREQ-ID", report_text(static_cast<const PcJob*>(record)->requestid));
}

void print_bijob_block(FILE* out, const JobRecord* record) {
  OutputBuffer text(out);
  put_label_line(text, "BIREQ-ID", report_text(static_cast<const BiJob*>(record)->requestid));
}

void print_unitjob_stdout(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "STDOUT    : \n", 'O',
                      static_cast<const UnitJob*>(record)->stdout_offset);
}

void print_unitjob_stderr(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "STDERR    : \n", 'E',
                      static_cast<const UnitJob*>(record)->stderr_offset);
}

void print_qdrsjob_stdout(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "STDOUT    : \n", 'O',
                      static_cast<const QdrsJob*>(record)->stdout_offset);
}

void print_qdrsjob_stderr(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "STDERR    : \n", 'E',
                      static_cast<const QdrsJob*>(record)->stderr_offset);
}

void print_erpjob_spool(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "SPOOL     :\n", 'O',
                      static_cast<const ErpJob*>(record)->spool_offset);
}

void print_erpjob_joblog(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "JOBLOG    :\n", 'E',
                      static_cast<const ErpJob*>(record)->joblog_offset);
}

void print_pcjob_chainlog(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "CHAIN LOG     :\n", 'O',
                      static_cast<const PcJob*>(record)->chainlog_offset);
}

void print_pcjob_chainproc(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "CHAIN PROCESS    :\n", 'E',
                      static_cast<const PcJob*>(record)->chainproc_offset);
}

void print_bijob_nothing(FILE*, FILE*, const JobRecord*) {}

void print_bijob_ipkg(FILE* out, FILE* spool, const JobRecord* record) {
  print_content_block(out, spool, "IPKG STATUS    :\n", 'O',
                      static_cast<const BiJob*>(record)->ipkg_offset);
}

}  // namespace flowtally
