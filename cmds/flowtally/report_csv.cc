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
#include "cmds/flowtally/report_select.h"
#include "cmds/flowtally/search.h"

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

// One job type of the report: its title line, its columns after kRowColumns and its row word.
struct CsvType {
  const char* title;
  const char* columns;
  const char* word;
};

// The job types in report order. Custom jobs share the unit jobs' title line.
constexpr CsvType kTypes[kJobKinds] = {
    {"#TYPE=UNITJOB\n", "expstarttime,expendtime,status,exitcode,errcode,requestid,machine\n",
     "UNITJOB,"},
    {"#TYPE=ERPJOB\n", "expstarttime,expendtime,status,machine\n", "ERPJOB,"},
    {"#TYPE=BIJOB\n", "expstarttime,expendtime,status\n", "BIJOB,"},
    {"#TYPE=PCJOB\n", "expstarttime,expendtime,status\n", "PCJOB,"},
    {"#TYPE=QDRSJOB\n", "expstarttime,expendtime,status,exitcode,errcode\n", "QDRSJOB,"},
    {"#TYPE=HLBSJOB\n", "expstarttime,expendtime,status,exitcode,errcode\n", "HLBSJOB,"},
    {"#TYPE=UNITJOB\n", "expstarttime,expendtime,status,exitcode,errcode,requestid,machine\n",
     "CSTMJOB,"},
};

// An exit code (error class 0) fills the exitcode column, an error code the errcode column.
void code_pair(OutputBuffer& row, int32_t errclass, int32_t code) {
  if (errclass != 0) {
    row.Put("0,").PutNumber(code);
  } else {
    row.PutNumber(code).Put(",0");
  }
}

const char* jnwdate() { return report_text(g_load_summary.jnwdate); }

// The report of the chosen records, gathered and written a buffer at a time. A section is its
// title lines (unless notitle), its rows and a blank line.
class CsvWriter : public ReportRecordSink {
 public:
  CsvWriter(FILE* out, const ReportSwitches& switches)
      : out_(out), titles_(!switches.notitle), quote_(switches.quote != 0) {}

  void Summary(const JnwEntry& entry) override {
    if (titles_) {
      out_.Put("#TYPE=SUMMARY\n");
      out_.Put("jnwname,jnwdate,user,machine,starttime,endtime,amounttime,");
      out_.Put(kTimeColumns);
      CountHeader();
    }
    Text(g_load_summary.jnwname).Put(',');
    Text(jnwdate()).Put(',');
    Text(entry.user.c_str()).Put(',');
    Text(g_local_machine).Put(',');
    csv_times_and_status(out_, load_summary_head());
    out_.Put(',');
    Counts(g_load_table);
    out_.Put('\n');
  }

  void JnwsBegin() override {
    if (!titles_) return;
    out_.Put("#TYPE=JNW\n").Put(kRowColumns).Put(kTimeColumns);
    CountHeader();
  }

  void Jnw(const JnwRecord& record) override {
    out_.Put("JNW,");
    if (report_text(record.parentjnw)[0] == '\0') {
      // The top network has no parent; an empty first field would read as a missing one.
      out_.Put("\"\"");
    } else {
      Text(record.parentjnw);
    }
    out_.Put(',');
    Text(jnwdate()).Put(',');
    Text(record.basename).Put(',');
    csv_times_and_status(out_, record);
    out_.Put(',');
    Counts(record.counts);
  }

  void JnwsEnd() override { out_.Put('\n'); }

  void JobsBegin(JobKind kind) override {
    const CsvType& type = kTypes[static_cast<int>(kind)];
    if (titles_) out_.Put(type.title).Put(kRowColumns).Put(type.columns);
  }

  void Job(JobKind kind, const JobRecord& record) override {
    out_.Put(kTypes[static_cast<int>(kind)].word);
    Text(record.parentjnw).Put(',');
    Text(jnwdate()).Put(',');
    Text(record.name).Put(',');
    csv_times_and_status(out_, record);
    switch (kind) {
      case JobKind::kUnit:
      case JobKind::kCustom: {
        const auto& r = static_cast<const UnitJob&>(record);
        out_.Put(',');
        code_pair(out_, r.errclass, r.code);
        out_.Put(',');
        Text(r.requestid).Put(',');
        Text(r.machine);
        break;
      }
      case JobKind::kErp:
        out_.Put(',');
        Text(static_cast<const ErpJob&>(record).machine);
        break;
      case JobKind::kQdrs:
      case JobKind::kHlbs: {
        const auto& r = static_cast<const QdrsJob&>(record);
        out_.Put(',');
        code_pair(out_, r.errclass, r.code);
        break;
      }
      case JobKind::kBi:
      case JobKind::kPc:
        break;
    }
    out_.Put('\n');
  }

  void JobsEnd(JobKind) override { out_.Put('\n'); }

 private:
  // A text field, as it is or quoted; returns the output for what follows.
  OutputBuffer& Text(const char* text) {
    if (quote_) {
      put_csv_field(out_, report_text(text));
    } else {
      out_.Put(report_text(text));
    }
    return out_;
  }

  void CountHeader() {
    for (const char* piece : kCountHeader) out_.Put(piece);
  }

  // The 80 counters of a table, comma-separated, ending the row.
  void Counts(const CountTable& table) {
    for (int b = 0; b < kCountBlocks; ++b) {
      const CountBlock& c = table.block[b];
      for (uint32_t n : {c.component, c.wait, c.waithold, c.waitskip, c.run, c.done, c.doneskip}) {
        out_.PutNumber(n).Put(',');
      }
      out_.PutNumber(c.error).Put(b + 1 < kCountBlocks ? ',' : '\n');
    }
  }

  OutputBuffer out_;
  bool titles_;
  bool quote_;
};

}  // namespace

int summary_output_csv(FILE* out, const JnwEntry& entry, const ReportSwitches& switches) {
  CsvWriter writer(out, switches);
  select_report_records(entry, switches, writer);
  return 0;
}

}  // namespace flowtally
