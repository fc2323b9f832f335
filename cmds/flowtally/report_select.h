// The records that the CSV report and the JSON forms of print mode write, in their order: the
// summary, the JNW records and the job records of each type, chosen by the print options and the
// component specification. Both writers walk the same choice, so that they cannot drift apart.
#pragma once

#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/search.h"

namespace flowtally {

/// The job types in the reports' fixed order.
enum class JobKind : int { kUnit, kErp, kBi, kPc, kQdrs, kHlbs, kCustom };
inline constexpr int kJobKinds = 7;

/// Receives the chosen records of the tracker loaded last. A section (the JNW records, the jobs
/// of one type) is begun before its first record and ended after its last; a section without
/// records is neither begun nor ended.
class ReportRecordSink {
 public:
  virtual ~ReportRecordSink() = default;
  /// The tracker's summary: the load summary and the load table.
  virtual void Summary(const JnwEntry& entry) = 0;
  virtual void JnwsBegin() {}
  virtual void Jnw(const JnwRecord& record) = 0;
  virtual void JnwsEnd() {}
  virtual void JobsBegin(JobKind /*kind*/) {}
  virtual void Job(JobKind kind, const JobRecord& record) = 0;
  virtual void JobsEnd(JobKind /*kind*/) {}
};

/// The load summary as a record: its times and status.
RecordHead load_summary_head();

/// Hands sink the records of the tracker of entry that the CSV report has rows for: without a
/// component specification the summary (style 0 or more, not ujonly), then with style 1 or more
/// the JNW records (not ujonly; erronly keeps errors and running networks with an error or an
/// estop) and the job records of every type (erronly keeps errors), each list in its own order;
/// with a job component the jobs of that name and network, of every type; with a network
/// component the JNW record of exactly that full name. A specification that does not fit the
/// tracker chooses nothing.
void select_report_records(const JnwEntry& entry, const ReportSwitches& switches,
                           ReportRecordSink& sink);

}  // namespace flowtally
