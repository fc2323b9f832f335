// Component records of one tracker: the status classes, the count tables, and the job and JNW
// records held in the linked object store, in their lists.
//
// Ownership: every record is an object of the linked object store (common/datalink.h), linked
// under the list that holds it; the lists hang under one process-wide root object. The records'
// texts live in the text blocks of the load (record_text), which the lists' reset frees with
// the records, so a job record shares the name of its JNW record without holding it.
// reset_record_lists frees the records of the previous load; pointers into them are not valid
// afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace flowtally {

// ---- Status classes -----------------------------------------------------------------------------

/// The status class of a component, a JNW or a tracker. Records hold it as an int32_t; a number
/// outside these reads as kClassUndef.
enum StatusClass : int32_t {
  kClassUndef = 0,
  kClassWait = 1,
  kClassWaitHold = 2,
  kClassWaitSkip = 3,
  kClassSubmit = 4,
  kClassRun = 5,
  kClassDone = 6,
  kClassDoneSkip = 7,
  kClassError = 8,
  kClassErrorStop = 9,
  kClassPrepare = 10,
  kClassRunDialog = 11,
  kClassRunHold = 12,
  kClassRunError = 13,
  kClassRunEstop = 14,
  kClassRunWarn = 15,
  kClassDoneWarn = 16,
};
inline constexpr int kStatusClasses = 17;

/// Status class of a job component from its status word and extended-status letters.
/// Words compare exactly (case matters); absent texts read as "".
StatusClass component_class(const char* status, const char* extstat);

/// Status class of a JNW or sub-network.
StatusClass jnw_class(const char* status, const char* extstat);

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

// ---- The status class table --------------------------------------------------------------------

/// Everything the reports and the counts decide by status class.
struct StatusClassInfo {
  std::string_view readable;  // the readable report's STATUS value
  std::string_view csv;       // the CSV report's status field; several classes share a word there
  std::string_view machine;   // the machine-readable status word, one per class
  // The counters of a CountBlock, beside component, that a record of the class adds one to:
  // none, one, or one and a detail of it (wait and waithold, done and doneskip).
  uint32_t CountBlock::*counter;
  uint32_t CountBlock::*detail;
  bool error;                   // an error: the job and JNW records that erronly keeps
  bool error_or_running_error;  // an error, or a running network with an error or an estop: the
                                // CSV JNW rows that erronly keeps
};

/// The rows, indexed by class.
extern const StatusClassInfo kStatusClassTable[kStatusClasses];

/// The row of status_class; any number outside the classes gets kClassUndef's row.
inline const StatusClassInfo& status_class_info(int32_t status_class) {
  const bool known = status_class >= 0 && status_class < kStatusClasses;
  return kStatusClassTable[known ? status_class : kClassUndef];
}

// ---- Count tables -------------------------------------------------------------------------------

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
  char* name;       // a text of the load; never null
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

// ---- The loaded tracker ----------------------------------------------------------------------

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

/// Frees the load summary's jnwname and jnwdate (null afterwards).
void summary_free_names();

// ---- Lists --------------------------------------------------------------------------------------

/// The record lists, one per record type.
enum RecordListIndex : int {
  kListJnw,
  kListUnit,
  kListErp,
  kListBi,
  kListPc,
  kListQdrs,
  kListHlbs,
  kListCustom,
  kListCount
};

/// Frees every list with its records and makes them anew, empty, under the root object (made on
/// first use, kept for the process).
void reset_record_lists();

/// Copies text, terminator included, into the texts of the loaded records: blocks of the store
/// kept with the lists and freed by reset_record_lists, so a record's text needs no object of
/// its own. An absent text is copied as "".
char* record_text(const char* text);

/// The list of index, for the loader that fills it. Null before the first reset_record_lists.
void* record_list(RecordListIndex index);

/// The lists, for the report writers: store objects whose slaves (dl_first/dl_next with their
/// own cursor) are the records, newest first. Null before the first reset_record_lists.
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
