#include "cmds/flowtally/report_select.h"

#include <cstring>
#include <string>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report_common.h"
#include "common/datalink.h"

namespace flowtally {

namespace {

// The JNW records kept by erronly: wider than the jobs' rule, they take running networks with an
// error or an estop too.
bool jnw_kept(const JnwRecord& record, const ReportSwitches& switches) {
  return !switches.erronly || status_class_info(record.status).error_or_running_error;
}

// The JNW records that pass erronly and, when name is given, whose name is exactly name.
void select_jnws(const ReportSwitches& switches, const char* name, ReportRecordSink& sink) {
  void* list = jnw_list();
  bool begun = false;
  for (void* p = dl_first(list, nullptr); p != nullptr; p = dl_next(list, nullptr)) {
    const auto& record = *static_cast<const JnwRecord*>(p);
    if (name != nullptr && std::strcmp(report_text(record.name), name) != 0) continue;
    if (!jnw_kept(record, switches)) continue;
    if (!begun) sink.JnwsBegin();
    begun = true;
    sink.Jnw(record);
  }
  if (begun) sink.JnwsEnd();
}

// The job lists in the fixed type order.
void* (*const kJobLists[kJobKinds])() = {unitjob_list, erpjob_list,  bijob_list,    pcjob_list,
                                         qdrsjob_list, hlbsjob_list, customjob_list};

// The jobs of every type that pass erronly and, with a name filter, whose name and parent
// network equal the filter's without regard to case.
void select_jobs(const ReportSwitches& switches, const char* name_filter, const char* parent_filter,
                 ReportRecordSink& sink) {
  for (int k = 0; k < kJobKinds; ++k) {
    const auto kind = static_cast<JobKind>(k);
    void* list = kJobLists[k]();
    bool begun = false;
    for (void* p = dl_first(list, nullptr); p != nullptr; p = dl_next(list, nullptr)) {
      const auto& record = *static_cast<const JobRecord*>(p);
      if (!report_job_kept(record, switches, name_filter, parent_filter)) continue;
      if (!begun) sink.JobsBegin(kind);
      begun = true;
      sink.Job(kind, record);
    }
    if (begun) sink.JobsEnd(kind);
  }
}

}  // namespace

RecordHead load_summary_head() {
  RecordHead head{};
  head.starttime = g_load_summary.starttime;
  head.endtime = g_load_summary.endtime;
  head.expstarttime = g_load_summary.expstarttime;
  head.expendtime = g_load_summary.expendtime;
  head.status = g_load_summary.status;
  return head;
}

void select_report_records(const JnwEntry& entry, const ReportSwitches& switches,
                           ReportRecordSink& sink) {
  if (g_options.component[0] == '\0') {
    if (switches.style >= 0 && !switches.ujonly) sink.Summary(entry);
    if (switches.style < 1) return;
    if (!switches.ujonly) select_jnws(switches, nullptr, sink);
    select_jobs(switches, nullptr, nullptr, sink);
    return;
  }
  char target[kTrackerPathSize] = "";
  char trkpath[kTrackerPathSize] = "";
  const int kind = resolve_component(entry.trackername.c_str(), entry.user.c_str(),
                                     g_options.component, target, trkpath);
  if (kind == 1) {
    const std::string jnw_path = report_jnw_path(trkpath);
    select_jobs(switches, target, jnw_path.c_str(), sink);
  } else if (kind == 0) {
    // A network is matched by its full name exactly, case included.
    select_jnws(switches, g_options.component, sink);
  }
}

}  // namespace flowtally
