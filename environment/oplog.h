// The operation record log.
//
// One line per invocation of a product command, appended to the day file
// <sitedb>/spool/log/record/op/record_op_<YYYYMMDD>.csv when the site configuration
// <sitedb>/spool/conf/umsconf.f turns op_log on. A day file above op_maxsize kilobytes is
// rotated into up to op_generation generations record_op_<YYYYMMDD>_<n>.csv; when they are all
// taken, the rest of the day's records are dropped. No failure here stops the command.
#pragma once

#include <cstddef>

/// Keys of umsconf.f, in table order (the index of lwlog_op_getconf).
enum LwlogOpConf {
  kOpLog = 0,
  kOpPeriod = 1,
  kOpGeneration = 2,
  kOpMaxsize = 3,
  kExeLog = 4,
  kExePeriod = 5,
  kExeGeneration = 6,
  kExeMaxsize = 7
};

/// Capacity of a configuration value, of the joined command line and of a record.
inline constexpr size_t kOpConfValueSize = 256;
inline constexpr size_t kOpCommandLineSize = 2048;
inline constexpr size_t kOpRecordSize = 4096;

/// Records one invocation of program (argc, argv) when the site turns the operation log on,
/// after marking the process (LWPProcess=Loomwork) so that its children record nothing.
/// -1 when the mark was already there (nothing else is done), else 0 whatever happens.
int lwlog_op_record(int argc, char** argv, const char* program);

/// Copies the value of key index of umsconf.f (the first line whose first word is the key,
/// letter case included), or the key's default, into dst (kOpConfValueSize bytes). 0, or -1
/// when index is above 7 or the file cannot be opened (dst untouched).
int lwlog_op_getconf(int index, char* dst);

/// Forms the record "<time>,<account>,<host>,CMD,<program>,<command line>" into dst (cap
/// bytes), the command line without trailing CR and LF. Any other CR or LF becomes a blank, so
/// that the record stays one line.
void lwlog_op_mkrecord(char* dst, size_t cap, const char* program, const char* command_line);

/// Appends record and a line feed to today's day file under an exclusive lock, rotating
/// first when the file is above the size limit. 0 (also when rotation drops the record), or -1.
int lwlog_op_write(const char* record);

/// Shifts the size generations of the day date (YYYYMMDD). 0 rotated, -2 leave the day file
/// and drop the record, -1 failure.
int lwlog_op_rotate(const char* date);

/// Creates what is missing of spool/log (with the log directory's access list),
/// spool/log/record, spool/log/record/op and the empty day file of date under sitedb. 0 or -1.
int lwlog_op_mkdirs(const char* date, const char* sitedb);
