// Component records of one tracker: the parsed form of a runscan component line, the status
// classes, the count tables, the job and JNW records held in the linked object store, and the
// loader that reads a dumped spool file into them.
//
// Ownership: every record is an object of the linked object store (common/datalink.h), linked
// under the list that holds it; the lists hang under one process-wide root object. A record's
// texts are string objects linked under the record. A job record also links the name string of
// its JNW record, so that string lives as long as any record needs it. summary_reset frees the
// records of the previous load; pointers into them are not valid afterwards.
//
// Single-threaded: the loader and the word splitter keep process-wide state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace flowtally {

// ---- Component lines ----------------------------------------------------------------------------

/// A component line is cut into at most this many fields; later fields are ignored.
inline constexpr int kComponentFields = 20;
/// The loader reads a spool file in pieces of at most this many characters, line end included.
inline constexpr size_t kLinePieceMax = 1022;

/// Widths of the texts of ComponentLine (characters, without the terminator). Longer fields are
/// cut to these widths.
inline constexpr size_t kCompNameMax = 256;
inline constexpr size_t kCompStatusMax = 16;
inline constexpr size_t kCompExtstatMax = 128;
inline constexpr size_t kCompStampMax = 14;
inline constexpr size_t kCompMachineMax = 255;
inline constexpr size_t kCompRequestIdMax = 265;

/// Sub-kinds of a 'Z' line: "java" makes an HLBS job, anything else a custom job.
inline constexpr int32_t kSubkindHlbs = 8;
inline constexpr int32_t kSubkindCustom = 9;

/// The parsed form of one component line. One instance is reused for every line of a load, so
/// a field that a line type does not set keeps the previous line's value (a 'J' line sets
/// neither errclass, code, machine nor requestid; a 'V' line neither machine nor requestid; 'O'
/// and 'E' lines set only type). A field that a line type uses but the line does not carry
/// reads as absent: "-" for a time stamp, "" for a text, 0 for a number.
struct ComponentLine {
  char type;                              // type letter
  int32_t subkind;                        // 'Z' lines: kSubkindHlbs or kSubkindCustom
  char name[kCompNameMax + 1];            // component name; 'J': JNW name from the path
  char status[kCompStatusMax + 1];        // status word (wait, prep, submit, run, done, ...)
  char extstat[kCompExtstatMax + 1];      // extended status flag letters
  char start[kCompStampMax + 1];          // start stamp or "-"
  char end[kCompStampMax + 1];            // end stamp or "-"
  char expstart[kCompStampMax + 1];       // expected start stamp or "-"
  int32_t expdur;                         // expected duration in seconds
  int32_t errclass;                       // error class, 0 when the job ended with exit code
  int32_t code;                           // exit code, or error code when errclass != 0
  char machine[kCompMachineMax + 1];      // machine that ran the job
  char requestid[kCompRequestIdMax + 1];  // request id of the job
};

/// Splits line (not modified; any length) with svlib_SplitWords and decodes it into out.
/// Returns 0 when accepted; 1 when it is not a component line (first byte tab, blank or '#',
/// no field, or a type letter outside B D E J O P U V X Z); -1 for a 'J' line whose tracker
/// path has no JNW name. 'E' and 'O' lines are accepted with only type set.
///
/// For a 'J' line, name is the JNW path of the tracker path (machine:user:NAME.STAMP[.suffix])
/// and expstart is the tracker's stamp, moved by field 10 seconds when field 10 is not "-" and
/// the stamp is a valid time; expdur is 0 when field 9 is "-".
int parse_component_line(const char* line, ComponentLine& out);

// ---- Status classes -----------------------------------------------------------------------------

/// Status class (0 to 16) of a job component from its status word and extended-status letters.
/// Words compare exactly (case matters); absent texts read as "".
int component_class(const char* status, const char* extstat);

/// Status class (0 to 16) of a JNW or sub-network.
int jnw_class(const char* status, const char* extstat);

// ---- Counting -----------------------------------------------------------------------------------

/// Eight status counters, in their stored (and printed) order.
struct CountBlock {
  uint32_t component;
  uint32_t wait;
  uint32_t waithold;
  uint32_t waitskip;
  uint32_t run;
  uint32_t done;
  uint32_t doneskip;
  uint32_t error;
};

/// Index of each block in a CountTable.
enum CountBlockIndex : int {
  kBlockAll = 0,
  kBlockUnit = 1,
  kBlockJnw = 2,
  kBlockErp = 3,
  kBlockBi = 4,
  kBlockPc = 5,
  kBlockQdrs = 6,
  kBlockHlbs = 7,
  kBlockCustom = 8,
  kBlockOther = 9,
};
inline constexpr int kCountBlocks = 10;

struct CountTable {
  CountBlock block[kCountBlocks];
};

/// Type codes of components. kTypeOther is a 'D' line, counted without a record.
enum ComponentType : int32_t {
  kTypeJnw = 0,
  kTypeUnit = 1,
  kTypeErp = 2,
  kTypeOther = 3,
  kTypeBi = 5,
  kTypeQdrs = 6,
  kTypePc = 7,
  kTypeHlbs = 8,
  kTypeCustom = 9,
};

/// Counts one record of status class status_class into block: component, plus the counters of
/// that class.
void count_class(int status_class, CountBlock& block);

/// Counts into block kBlockAll and into the block of typecode (kBlockOther for an unknown code).
void count_component(int status_class, CountTable& table, int typecode);

// ---- Records ------------------------------------------------------------------------------------

/// The head common to every record. Times are seconds since 1970 UTC; below 1 means not set.
struct RecordHead {
  char* name;       // owned string object; never null
  char* parentjnw;  // never null; "" when the record has no parent
  int64_t starttime;
  int64_t endtime;
  int64_t expstarttime;
  int64_t expendtime;  // expstarttime + expected duration; not set when expstarttime is not
  int32_t status;      // status class
};

struct JobRecord;

/// The print operations of a job record, installed per type when the record is made.
using PrintHeadingFn = void (*)(FILE* out);
using PrintCommonFn = void (*)(FILE* out, const RecordHead* record);
using PrintTypeBlockFn = void (*)(FILE* out, const JobRecord* record);
/// spool is the spool file opened for reading (may be null when no content is wanted).
using PrintContentFn = void (*)(FILE* out, FILE* spool, const JobRecord* record);

/// A job record: the head and its five print operations, then the type's own fields.
struct JobRecord : RecordHead {
  PrintHeadingFn print_heading;
  PrintCommonFn print_common;
  PrintTypeBlockFn print_type_block;
  PrintContentFn print_first_content;
  PrintContentFn print_second_content;
};

// Content offsets are the byte offsets of the 'O' or 'E' marker line in the spool file;
// 0 means no block.

/// 'U' lines, type code 1.
struct UnitJob : JobRecord {
  int32_t errclass;
  int32_t code;
  char* requestid;        // owned
  char* machine;          // owned
  int64_t stdout_offset;  // 'O'
  int64_t stderr_offset;  // 'E'
};

/// 'Z' lines other than "java", type code 9; the fields of a UnitJob.
struct CustomJob : UnitJob {};

/// 'X' lines, type code 2.
struct ErpJob : JobRecord {
  char* machine;          // owned
  char* jobcount;         // owned: the line's request id field
  int64_t spool_offset;   // 'O'
  int64_t joblog_offset;  // 'E'
};

/// 'B' lines, type code 5. 'E' markers are ignored.
struct BiJob : JobRecord {
  char* requestid;      // owned
  int64_t ipkg_offset;  // 'O'
};

/// 'V' lines, type code 6.
struct QdrsJob : JobRecord {
  int32_t errclass;
  int32_t code;
  int64_t stdout_offset;  // 'O'
  int64_t stderr_offset;  // 'E'
};

/// 'Z' "java" lines, type code 8; the fields of a QdrsJob.
struct HlbsJob : QdrsJob {};

/// 'P' lines, type code 7.
struct PcJob : JobRecord {
  char* requestid;           // owned
  int64_t chainlog_offset;   // 'O'
  int64_t chainproc_offset;  // 'E'
};

/// One per 'J' line. name is the full JNW path ("A:B:C"); parentjnw is an owned copy of the
/// text before its last ':' ("" for the top network); basename points into name, after its last
/// ':'. counts holds its direct components and sub-networks.
struct JnwRecord : RecordHead {
  char* basename;
  CountTable counts;
};

// Print operations installed into the job records. The readable report defines what they
// write; every record type installs print_common.
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

// ---- The load -----------------------------------------------------------------------------------

/// Summary of the tracker loaded last, filled from the first 'J' line of the load.
struct LoadSummary {
  char* jnwname;  // owned basename of the top network; null until a 'J' line is loaded
  char* jnwdate;  // owned copy of that line's expstart (14 digits or "-"); null with jnwname
  int64_t starttime;
  int64_t endtime;
  int64_t expstarttime;
  int64_t expendtime;
  int32_t status;  // JNW status class
};

/// The process-wide load summary.
extern LoadSummary g_load_summary;
/// Counts every line of the load: each job line, and each 'J' line in blocks 0 and 2.
extern CountTable g_load_table;

/// Empties everything a load fills: frees jnwname and jnwdate, zeroes the summary's times and
/// class and the load table, frees the JNW list and the seven type lists with their records,
/// and makes them anew, empty, under the root object (made on first use, kept for the process).
/// Also forgets the current JNW record, the last type code and each list's last added record.
/// Returns 0.
int summary_reset();

/// Reads the spool file at path into the lists, the load summary and the load table. A load
/// starts with no current JNW record and no last job record: job lines before the first 'J'
/// line are loaded without a parent and counted only into the load table; 'O'/'E' lines before
/// the first job line change nothing. Returns 0; -1 after "flowtally: Unable to open spool
/// file:PATH" and "flowtally: " with the system's error text when the file cannot be opened,
/// and -1 after "flowtally: Unable to read spool file:PATH" and the error text when reading
/// fails (what was read so far stays loaded). With DebugKey kDebugLoad every piece read, every
/// accepted line and every noted content block is traced on standard error.
int summary_load(const char* path);

/// Frees the load summary's jnwname and jnwdate (null afterwards).
void summary_free_names();

/// Reads at most max bytes of f into buf, up to and including a line end; buf is not
/// terminated. Returns the bytes read (0 at end of file or on a read error); *ended tells whether
/// they end with a line end. Lengths are counted, so a NUL byte is read like any other.
size_t read_line_piece(FILE* f, char* buf, size_t max, bool* ended);

/// The lists, for the report writers: store objects whose slaves (dl_first/dl_next with their
/// own cursor) are the records, newest first. Null before the first summary_reset.
void* jnw_list();        // JnwRecord
void* unitjob_list();    // UnitJob
void* erpjob_list();     // ErpJob
void* bijob_list();      // BiJob
void* pcjob_list();      // PcJob
void* qdrsjob_list();    // QdrsJob
void* hlbsjob_list();    // HlbsJob
void* customjob_list();  // CustomJob

// ---- Sorted view --------------------------------------------------------------------------------

/// The records of a list in report order.
using SortedView = std::vector<RecordHead*>;

/// The records of list (any list above), ordered by parentjnw and then by name, both without
/// regard to case; records with equal keys keep the list's (newest first) order. Uses the list's
/// iteration cursor. The view holds no records: they stay the list's.
SortedView sorted_view(void* list);

}  // namespace flowtally
