// The CSV report of one tracker: a SUMMARY section, a JNW section and one section per job
// type, each a "#TYPE=" line, a column-name line and one row per record. Other programs parse
// these sections, so every title, column name and field position stays exactly as it is, the
// two "ujwait" columns and the "#TYPE=UNITJOB" title of custom jobs included. Text fields are
// written as they are, or under the quote switch in RFC 4180 quotes where they hold a ',', a
// '"', a CR or an LF; times, numbers and status words never need quotes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cmds/flowtally/machine_values.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/search.h"
#include "common/datalink.h"

namespace flowtally {

namespace {

constexpr char kTimeFormat[] = "%Y/%m/%d %H:%M:%S";

// The column names of the ten count blocks, in block order. Block 8's second column is
// "ujwait", not "cstmjwait": consumers look the columns up by these names.
constexpr const char* kCountHeader[] = {
    "totalcomponent,totalwait,totalwaithold,totalwaitskip,",
    "totalrun,totaldone,totaldoneskip,totalerror,",
    "ujcomponent,ujwait,ujwaithold,ujwaitskip,",
    "ujrun,ujdone,ujdoneskip,ujerror,",
    "jnwcomponent,jnwwait,jnwwaithold,jnwwaitskip,",
    "jnwrun,jnwdone,jnwdoneskip,jnwerror,",
    "ERPcomponent,ERPwait,ERPwaithold,ERPwaitskip,",
    "ERPrun,ERPdone,ERPdoneskip,ERPerror,",
    "BIcomponent,BIwait,BIwaithold,BIwaitskip,",
    "BIrun,BIdone,BIdoneskip,BIerror,",
    "PCcomponent,PCwait,PCwaithold,PCwaitskip,",
    "PCrun,PCdone,PCdoneskip,PCerror,",
    "qdrsjcomponent,qdrsjwait,qdrsjwaithold,qdrsjwaitskip,",
    "qdrsjrun,qdrsjdone,qdrsjdoneskip,qdrsjerror,",
    "hlbsjcomponent,hlbsjwait,hlbsjwaithold,hlbsjwaitskip,",
    "hlbsjrun,hlbsjdone,hlbsjdoneskip,hlbsjerror,",
    "cstmjcomponent,ujwait,cstmjwaithold,cstmjwaitskip,",
    "cstmjrun,cstmjdone,cstmjdoneskip,cstmjerror,",
    "othercomponent,otherwait,otherwaithold,otherwaitskip,",
    "otherrun,otherdone,otherdoneskip,othererror\n",
};

constexpr char kRowColumns[] = "type,parentjnw,jnwdate,name,starttime,endtime,amounttime,";
constexpr char kTimeColumns[] = "expstarttime,expendtime,status,";

// A time field: local time, empty when the time is not set.
TimeText csv_time(int64_t t) { return report_local_time<kTimeFormat>(t, ""); }

// Writes the time fields of a row and its status, each before the status followed by ",":
// start, end, amounttime (seconds, 0 unless both are set), expected start and end.
void csv_times_and_status(OutputBuffer& row, const RecordHead& head) {
  const int64_t amount =
      head.starttime >= 1 && head.endtime >= 1 ? head.endtime - head.starttime : 0;
  row.Put(csv_time(head.starttime).view()).Put(',');
  row.Put(csv_time(head.endtime).view()).Put(',');
  row.PutNumber(amount).Put(',');
  row.Put(csv_time(head.expstarttime).view()).Put(',');
  row.Put(csv_time(head.expendtime).view()).Put(',');
  row.Put(status_class_info(head.status).csv);
}

void csv_count_header(FILE* out) {
  for (const char* piece : kCountHeader) std::fputs(piece, out);
}

// The 80 counters of a table, comma-separated, ending the row.
void csv_counts(FILE* out, const CountTable& table) {
  for (int b = 0; b < kCountBlocks; ++b) {
    const CountBlock& c = table.block[b];
    std::fprintf(out, "%u,%u,%u,%u,%u,%u,%u,%u%s", c.component, c.wait, c.waithold, c.waitskip,
                 c.run, c.done, c.doneskip, c.error, b + 1 < kCountBlocks ? "," : "\n");
  }
}

const char* jnwdate() { return report_text(g_load_summary.jnwdate); }

// A text field of a row, as it is or quoted; returns the row.
OutputBuffer& csv_text(OutputBuffer& row, const char* text, const ReportSwitches& switches) {
  if (switches.quote) {
    put_csv_field(row, report_text(text));
  } else {
    row.Put(report_text(text));
  }
  return row;
}

void csv_summary_section(FILE* out, const JnwEntry& entry, const ReportSwitches& switches) {
  if (!switches.notitle) {
    std::fputs("#TYPE=SUMMARY\n", out);
    std::fputs("jnwname,jnwdate,user,machine,starttime,endtime,amounttime,", out);
    std::fputs(kTimeColumns, out);
    csv_count_header(out);
  }
  RecordHead head{};
  head.starttime = g_load_summary.starttime;
  head.endtime = g_load_summary.endtime;
  head.expstarttime = g_load_summary.expstarttime;
  head.expendtime = g_load_summary.expendtime;
  head.status = g_load_summary.status;
  {
    OutputBuffer row(out);
    csv_text(row, g_load_summary.jnwname, switches).Put(',');
    csv_text(row, jnwdate(), switches).Put(',');
    csv_text(row, entry.user.c_str(), switches).Put(',');
    csv_text(row, g_local_machine, switches).Put(',');
    csv_times_and_status(row, head);
    row.Put(',');
  }
  csv_counts(out, g_load_table);
}

void csv_jnw_title(FILE* out) {
  std::fputs("#TYPE=JNW\n", out);
  std::fputs(kRowColumns, out);
  std::fputs(kTimeColumns, out);
  csv_count_header(out);
}

void csv_jnw_row(FILE* out, const JnwRecord& record, const ReportSwitches& switches) {
  {
    OutputBuffer row(out);
    row.Put("JNW,");
    if (report_text(record.parentjnw)[0] == '\0') {
      // The top network has no parent; an empty first field would read as a missing one.
      row.Put("\"\"");
    } else {
      csv_text(row, record.parentjnw, switches);
    }
    row.Put(',');
    csv_text(row, jnwdate(), switches).Put(',');
    csv_text(row, record.basename, switches).Put(',');
    csv_times_and_status(row, record);
    row.Put(',');
  }
  csv_counts(out, record.counts);
}

// The JNW rows kept by erronly: wider than the jobs' rule, they take running networks with an
// error or an estop too.
bool jnw_kept(const JnwRecord& record, const ReportSwitches& switches) {
  return !switches.erronly || status_class_info(record.status).error_or_running_error;
}

// Writes the JNW rows that pass erronly and, when name is given, whose name is exactly name.
// The title lines come before the first row, the blank line after the last.
void csv_jnw_section(FILE* out, const ReportSwitches& switches, const char* name) {
  void* list = jnw_list();
  bool written = false;
  for (void* p = dl_first(list, nullptr); p != nullptr; p = dl_next(list, nullptr)) {
    const auto& record = *static_cast<const JnwRecord*>(p);
    if (name != nullptr && std::strcmp(report_text(record.name), name) != 0) continue;
    if (!jnw_kept(record, switches)) continue;
    if (!written && !switches.notitle) csv_jnw_title(out);
    written = true;
    csv_jnw_row(out, record, switches);
  }
  if (written) std::fputs("\n", out);
}

// What follows the status in a job row.
void unit_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches);
void erp_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches);
void plain_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches);
void qdrs_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches);

// One job type of the report: its list, titles, row word and row end.
struct CsvType {
  void* (*list)();
  const char* title;
  const char* columns;  // after kRowColumns
  const char* word;
  void (*tail)(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches);
};

// The fixed type order of the report. Custom jobs share the unit jobs' title line.
const CsvType kTypes[] = {
    {unitjob_list, "#TYPE=UNITJOB\n",
     "expstarttime,expendtime,status,exitcode,errcode,requestid,machine\n", "UNITJOB,", unit_tail},
    {erpjob_list, "#TYPE=ERPJOB\n", "expstarttime,expendtime,status,machine\n", "ERPJOB,",
     erp_tail},
    {bijob_list, "#TYPE=BIJOB\n", "expstarttime,expendtime,status\n", "BIJOB,", plain_tail},
    {pcjob_list, "#TYPE=PCJOB\n", "expstarttime,expendtime,status\n", "PCJOB,", plain_tail},
    {qdrsjob_list, "#TYPE=QDRSJOB\n", "expstarttime,expendtime,status,exitcode,errcode\n",
     "QDRSJOB,", qdrs_tail},
    {hlbsjob_list, "#TYPE=HLBSJOB\n", "expstarttime,expendtime,status,exitcode,errcode\n",
     "HLBSJOB,", qdrs_tail},
    {customjob_list, "#TYPE=UNITJOB\n",
     "expstarttime,expendtime,status,exitcode,errcode,requestid,machine\n", "CSTMJOB,", unit_tail},
};

// An exit code (error class 0) fills the exitcode column, an error code the errcode column.
void code_pair(OutputBuffer& row, int32_t errclass, int32_t code) {
  if (errclass != 0) {
    row.Put("0,").PutNumber(code);
  } else {
    row.PutNumber(code).Put(",0");
  }
}

void unit_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches) {
  const auto* r = static_cast<const UnitJob*>(record);
  row.Put(',');
  code_pair(row, r->errclass, r->code);
  row.Put(',');
  csv_text(row, r->requestid, switches).Put(',');
  csv_text(row, r->machine, switches).Put('\n');
}

void erp_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches& switches) {
  csv_text(row.Put(','), static_cast<const ErpJob*>(record)->machine, switches).Put('\n');
}

void plain_tail(OutputBuffer& row, const JobRecord*, const ReportSwitches&) { row.Put('\n'); }

void qdrs_tail(OutputBuffer& row, const JobRecord* record, const ReportSwitches&) {
  const auto* r = static_cast<const QdrsJob*>(record);
  row.Put(',');
  code_pair(row, r->errclass, r->code);
  row.Put('\n');
}

// Writes the rows of one type that pass erronly (error and error stop only) and, with a name
// filter, whose name and parent network equal the filter's without regard to case. A type
// without rows writes nothing, not even its title.
void csv_type_section(FILE* out, const CsvType& type, const ReportSwitches& switches,
                      const char* name_filter, const char* parent_filter) {
  void* list = type.list();
  bool written = false;
  {
    // The rows are gathered across records and written a buffer at a time; the title goes out
    // before the first row is gathered.
    OutputBuffer rows(out);
    for (void* p = dl_first(list, nullptr); p != nullptr; p = dl_next(list, nullptr)) {
      const auto* record = static_cast<const JobRecord*>(p);
      if (!report_job_kept(*record, switches, name_filter, parent_filter)) continue;
      if (!written && !switches.notitle) {
        std::fputs(type.title, out);
        std::fputs(kRowColumns, out);
        std::fputs(type.columns, out);
      }
      written = true;
      rows.Put(type.word);
      csv_text(rows, record->parentjnw, switches).Put(',');
      csv_text(rows, jnwdate(), switches).Put(',');
      csv_text(rows, record->name, switches).Put(',');
      csv_times_and_status(rows, *record);
      type.tail(rows, record, switches);
    }
  }
  if (written) std::fputs("\n", out);
}

void output_whole(FILE* out, const JnwEntry& entry, const ReportSwitches& switches) {
  if (switches.style >= 0 && !switches.ujonly) {
    csv_summary_section(out, entry, switches);
    std::fputs("\n", out);
  }
  if (switches.style < 1) return;
  if (!switches.ujonly) csv_jnw_section(out, switches, nullptr);
  for (const CsvType& type : kTypes) csv_type_section(out, type, switches, nullptr, nullptr);
}

void output_component(FILE* out, const JnwEntry& entry, const ReportSwitches& switches) {
  char target[kTrackerPathSize] = "";
  char trkpath[kTrackerPathSize] = "";
  const int kind = resolve_component(entry.trackername.c_str(), entry.user.c_str(),
                                     g_options.component, target, trkpath);
  if (kind == 1) {
    const std::string jnw_path = report_jnw_path(trkpath);
    for (const CsvType& type : kTypes) {
      csv_type_section(out, type, switches, target, jnw_path.c_str());
    }
  } else if (kind == 0) {
    // A network is matched by its full name exactly, case included.
    csv_jnw_section(out, switches, g_options.component);
  }
  // A component specification that does not fit the tracker shows nothing; the driver never asks.
}

}  // namespace

int summary_output_csv(FILE* out, const JnwEntry& entry, const ReportSwitches& switches) {
  if (g_options.component[0] == '\0') {
    output_whole(out, entry, switches);
  } else {
    output_component(out, entry, switches);
  }
  return 0;
}

}  // namespace flowtally
