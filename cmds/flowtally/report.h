// The report writers of print mode: readable, CSV, and JSON Lines or one JSON document. Each
// writes the report of the tracker loaded last (the load summary, the load table and the record
// lists) to out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "cmds/flowtally/search.h"

namespace flowtally {

/// The print settings handed to a report writer, filled by the print-mode driver.
struct ReportSwitches {
  int32_t style;            // below 1 summary only; 1 sections; 2 and above more detail
  int32_t ujonly;           // leave the JNW section out
  int32_t erronly;          // only records whose status class is an error
  int32_t notitle;          // CSV: leave out the "#TYPE=" and column-name lines
  int32_t first_content;    // readable: each job's first content block
  int32_t second_content;   // readable: each job's second content block
  int32_t quote = 0;        // CSV: a text field holding ',', '"', CR or LF in RFC 4180 quotes
  int32_t local_times = 0;  // JSON: times in local time with their offset; else in UTC
};

/// The readable report of the tracker of entry, copying content blocks from the spool file at
/// spool_path. Whole tracker when the component option is empty, else that component. Returns
/// 0, or -1 when the spool file cannot be opened or read for the job sections (what was written
/// stands).
int summary_output_rd(FILE* out, const char* spool_path, const JnwEntry& entry,
                      const ReportSwitches& switches);

/// The CSV report of the tracker of entry. Returns 0.
int summary_output_csv(FILE* out, const JnwEntry& entry, const ReportSwitches& switches);

/// The JSON form of the tracker of entry: its records as JSON Lines, or (document) its element
/// of the document's trackers, the document being opened before its first element. With the
/// content switches, each job record holds its captured output, copied from the spool file at
/// spool_path. Returns 0, or -1 when the spool file cannot be opened (nothing is written then)
/// or read (the records written stand, their output cut short).
int summary_output_json(FILE* out, const char* spool_path, const JnwEntry& entry,
                        const ReportSwitches& switches, bool document);

/// The JSON form of a tracker that has no report: an error record with message (JSON Lines), or
/// (document) its element with message as its error; with an empty message, the element of a
/// tracker that holds none of the records asked for.
void json_tracker_without_report(FILE* out, std::string_view tracker, std::string_view message,
                                 bool document);

/// Ends the document: closes it, or writes the empty document when no element was written.
void json_document_end(FILE* out);

}  // namespace flowtally
