// The two report writers of print mode: readable and CSV. Each writes the report of the
// tracker loaded last (the load summary, the load table and the record lists) to out.
#pragma once

#include <cstdint>
#include <cstdio>

#include "cmds/flowtally/search.h"

namespace flowtally {

/// The print settings handed to a report writer, filled by the print-mode driver.
struct ReportSwitches {
  int32_t style;           // below 1 summary only; 1 sections; 2 and above more detail
  int32_t ujonly;          // leave the JNW section out
  int32_t erronly;         // only records whose status class is an error
  int32_t notitle;         // CSV: leave out the "#TYPE=" and column-name lines
  int32_t first_content;   // readable: each job's first content block
  int32_t second_content;  // readable: each job's second content block
  int32_t quote = 0;       // CSV: a text field holding ',', '"', CR or LF in RFC 4180 quotes
};

/// The readable report of the tracker of entry, copying content blocks from the spool file at
/// spool_path. Whole tracker when the component option is empty, else that component. Returns
/// 0, or -1 when a job's component report cannot open the spool file.
int summary_output_rd(FILE* out, const char* spool_path, const JnwEntry& entry,
                      const ReportSwitches& switches);

/// The CSV report of the tracker of entry. Returns 0.
int summary_output_csv(FILE* out, const JnwEntry& entry, const ReportSwitches& switches);

}  // namespace flowtally
