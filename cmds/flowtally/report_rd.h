// Print operations of the readable report, installed into the job records when the loader
// makes them: the heading of each job type's section, the lines common to every record, each
// type's own fields, and the content blocks copied from the spool file.
#pragma once

#include <cstdio>

#include "cmds/flowtally/records.h"

namespace flowtally {

/// Every record type installs print_common.
void print_common(FILE* out, const RecordHead* record);

void print_unitjob_heading(FILE* out);
void print_customjob_heading(FILE* out);
void print_qdrsjob_heading(FILE* out);
void print_hlbsjob_heading(FILE* out);
void print_erpjob_heading(FILE* out);
void print_pcjob_heading(FILE* out);
void print_bijob_heading(FILE* out);

/// UnitJob and CustomJob: exit/error code, machine, request id.
void print_unitjob_block(FILE* out, const JobRecord* record);
/// QdrsJob and HlbsJob: exit/error code.
void print_qdrsjob_block(FILE* out, const JobRecord* record);
/// ErpJob: machine, job count.
void print_erpjob_block(FILE* out, const JobRecord* record);
/// PcJob: request id.
void print_pcjob_block(FILE* out, const JobRecord* record);
/// BiJob: request id.
void print_bijob_block(FILE* out, const JobRecord* record);

/// UnitJob and CustomJob: STDOUT (stdout_offset) and STDERR (stderr_offset).
void print_unitjob_stdout(FILE* out, FILE* spool, const JobRecord* record);
void print_unitjob_stderr(FILE* out, FILE* spool, const JobRecord* record);
/// QdrsJob and HlbsJob: STDOUT and STDERR.
void print_qdrsjob_stdout(FILE* out, FILE* spool, const JobRecord* record);
void print_qdrsjob_stderr(FILE* out, FILE* spool, const JobRecord* record);
/// ErpJob: SPOOL (spool_offset) and JOBLOG (joblog_offset).
void print_erpjob_spool(FILE* out, FILE* spool, const JobRecord* record);
void print_erpjob_joblog(FILE* out, FILE* spool, const JobRecord* record);
/// PcJob: CHAIN LOG (chainlog_offset) and CHAIN PROCESS (chainproc_offset).
void print_pcjob_chainlog(FILE* out, FILE* spool, const JobRecord* record);
void print_pcjob_chainproc(FILE* out, FILE* spool, const JobRecord* record);
/// BiJob: its first content block prints nothing; its second is IPKG STATUS (ipkg_offset).
void print_bijob_nothing(FILE* out, FILE* spool, const JobRecord* record);
void print_bijob_ipkg(FILE* out, FILE* spool, const JobRecord* record);

}  // namespace flowtally
