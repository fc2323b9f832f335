#include "cmds/flowtally/loader.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cmds/flowtally/line_piece.h"
#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report_rd.h"
#include "common/datalink.h"
#include "common/retry32.h"
#include "environment/datestr.h"
#include "environment/splitwords.h"
#include "platform/error.h"
#include "platform/file.h"

namespace flowtally {

namespace {

// ---- Line parsing -------------------------------------------------------------------------------

// The words of one line, numbered from 1 as the line grammar numbers its fields.
struct Fields {
  char* word[kComponentFields];
  int count;  // words stored, at most kComponentFields

  // Field n, or nullptr when the line does not carry it.
  const char* at(int n) const { return n >= 1 && n <= count ? word[n - 1] : nullptr; }
};

bool IsDash(const char* text) { return text != nullptr && std::strcmp(text, "-") == 0; }

void CopyText(char* dst, size_t max_chars, const char* src) { copy_truncated(dst, max_chars, src); }

// A time field the line does not carry is a time that is not set.
void CopyStamp(char* dst, const char* src) {
  copy_truncated(dst, kCompStampMax, src != nullptr ? src : "-");
}

int32_t ReadInt(const char* src) { return src != nullptr ? read_decimal(src) : 0; }

// Field numbers of the job line layouts; 0 means the layout has no such field.
struct JobLayout {
  int name, status, errclass, code, start, end, requestid, machine, expstart, expdur, extstat;
};
constexpr JobLayout kLayoutCommon = {2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13};  // B D P U X
constexpr JobLayout kLayoutQdrs = {2, 3, 4, 5, 6, 7, 0, 0, 11, 12, 15};    // V
constexpr JobLayout kLayoutZ = {3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14};      // Z

void DecodeJob(const Fields& f, const JobLayout& l, ComponentLine& out) {
  CopyText(out.name, kCompNameMax, f.at(l.name));
  CopyText(out.status, kCompStatusMax, f.at(l.status));
  CopyText(out.extstat, kCompExtstatMax, f.at(l.extstat));
  CopyStamp(out.start, f.at(l.start));
  CopyStamp(out.end, f.at(l.end));
  CopyStamp(out.expstart, f.at(l.expstart));
  if (l.requestid != 0) CopyText(out.requestid, kCompRequestIdMax, f.at(l.requestid));
  if (l.machine != 0) CopyText(out.machine, kCompMachineMax, f.at(l.machine));
  out.errclass = ReadInt(f.at(l.errclass));
  out.code = ReadInt(f.at(l.code));
  out.expdur = ReadInt(f.at(l.expdur));
}

// Decodes a 'J' line; -1, with out unchanged, when its tracker path has no JNW name.
int DecodeJnw(const Fields& f, ComponentLine& out) {
  // machine:user:NAME.STAMP[.suffix]; NAME may hold ':' between nested sub-networks.
  const char* path = f.at(2);
  if (path == nullptr) return -1;
  const char* colon = std::strchr(path, ':');
  if (colon == nullptr) return -1;
  colon = std::strchr(colon + 1, ':');
  if (colon == nullptr) return -1;
  const char* name = colon + 1;
  const char* dot = std::strchr(name, '.');
  const size_t name_len = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  if (name_len == 0) return -1;
  std::string_view stamp = "-";
  if (dot != nullptr) {
    const char* stamp_end = std::strchr(dot + 1, '.');
    std::string_view text(dot + 1, stamp_end != nullptr ? static_cast<size_t>(stamp_end - dot - 1)
                                                        : std::strlen(dot + 1));
    if (!text.empty()) stamp = text;
  }
  CopyText(out.name, kCompNameMax, std::string(name, name_len).c_str());
  CopyText(out.status, kCompStatusMax, f.at(3));
  CopyText(out.extstat, kCompExtstatMax, f.at(11));
  CopyStamp(out.start, f.at(5));
  CopyStamp(out.end, f.at(6));
  const char* dur = f.at(9);
  out.expdur = (dur == nullptr || IsDash(dur)) ? 0 : read_decimal(dur);

  const std::string stamp_text(stamp);
  CopyStamp(out.expstart, stamp_text.c_str());
  const char* offset = f.at(10);
  if (offset != nullptr && !IsDash(offset)) {
    int64_t t = 0;
    svlib_CnvStrTime(stamp_text.c_str(), &t);
    // An offset from a stamp that is not a time would make up a time near 1970: the expected
    // start then stays as unset as the stamp is.
    if (t >= 1) {
      char moved[kTimeStampSize];
      svlib_CnvTimeStr(t + read_decimal(offset), moved);
      CopyStamp(out.expstart, moved);
    }
  }
  return 0;
}

// ---- Loader state -------------------------------------------------------------------------------

// The record added last to each type list (the kListJnw slot stays unused).
JobRecord* g_last_added[kListCount] = {};
JnwRecord* g_current_jnw = nullptr;
int32_t g_last_type = 0;

// Forgets everything that points into the records of a load, so that a later load never
// reaches a record of an earlier one (which a reset may have freed).
void ForgetLoadPointers() {
  g_current_jnw = nullptr;
  g_last_type = 0;
  std::fill(std::begin(g_last_added), std::end(g_last_added), nullptr);
}

bool Debugging() { return g_options.DebugKey == kDebugLoad; }

int64_t ToTime(const char* stamp) {
  int64_t t = 0;
  svlib_CnvStrTime(stamp, &t);
  return t;
}

// An expected end exists only when the expected start does.
int64_t ExpectedEnd(int64_t expstart, int32_t expdur) {
  return expstart >= 1 ? expstart + expdur : expstart;
}

void FillHead(RecordHead* r, const ComponentLine& line, int status_class) {
  r->name = record_text(line.name);
  // The network's name lives in the load's texts as long as the record does.
  r->parentjnw = g_current_jnw != nullptr ? g_current_jnw->name : record_text("");
  r->starttime = ToTime(line.start);
  r->endtime = ToTime(line.end);
  r->expstarttime = ToTime(line.expstart);
  r->expendtime = ExpectedEnd(r->expstarttime, line.expdur);
  r->status = status_class;
}

// The print operations a job type installs; print_common is the same for every type.
struct JobPrintOps {
  PrintHeadingFn heading;
  PrintTypeBlockFn type_block;
  PrintContentFn first_content;
  PrintContentFn second_content;
};
constexpr JobPrintOps kUnitOps = {print_unitjob_heading, print_unitjob_block, print_unitjob_stdout,
                                  print_unitjob_stderr};
constexpr JobPrintOps kCustomOps = {print_customjob_heading, print_unitjob_block,
                                    print_unitjob_stdout, print_unitjob_stderr};
constexpr JobPrintOps kErpOps = {print_erpjob_heading, print_erpjob_block, print_erpjob_spool,
                                 print_erpjob_joblog};
constexpr JobPrintOps kBiOps = {print_bijob_heading, print_bijob_block, print_bijob_nothing,
                                print_bijob_ipkg};
constexpr JobPrintOps kPcOps = {print_pcjob_heading, print_pcjob_block, print_pcjob_chainlog,
                                print_pcjob_chainproc};
constexpr JobPrintOps kQdrsOps = {print_qdrsjob_heading, print_qdrsjob_block, print_qdrsjob_stdout,
                                  print_qdrsjob_stderr};
constexpr JobPrintOps kHlbsOps = {print_hlbsjob_heading, print_qdrsjob_block, print_qdrsjob_stdout,
                                  print_qdrsjob_stderr};

template <class T>
T* MakeJob(int list, const ComponentLine& line, int status_class, const JobPrintOps& ops) {
  T* r = dl_make<T>(record_list(static_cast<RecordListIndex>(list)), kDlKind);
  FillHead(r, line, status_class);
  r->print_heading = ops.heading;
  r->print_common = print_common;
  r->print_type_block = ops.type_block;
  r->print_first_content = ops.first_content;
  r->print_second_content = ops.second_content;
  g_last_added[list] = r;
  return r;
}

// The fields of UnitJob and CustomJob.
void FillUnitFields(UnitJob* r, const ComponentLine& line) {
  r->errclass = line.errclass;
  r->code = line.code;
  r->requestid = record_text(line.requestid);
  r->machine = record_text(line.machine);
}

// The fields of QdrsJob and HlbsJob.
void FillQdrsFields(QdrsJob* r, const ComponentLine& line) {
  r->errclass = line.errclass;
  r->code = line.code;
}

// Makes the record of a job line; returns its type code (kTypeOther for a 'D' line, which makes
// none).
int MakeJobRecord(const ComponentLine& line, int status_class) {
  switch (line.type) {
    case 'U':
      FillUnitFields(MakeJob<UnitJob>(kListUnit, line, status_class, kUnitOps), line);
      return kTypeUnit;
    case 'X': {
      auto* r = MakeJob<ErpJob>(kListErp, line, status_class, kErpOps);
      r->machine = record_text(line.machine);
      r->jobcount = record_text(line.requestid);
      return kTypeErp;
    }
    case 'B': {
      auto* r = MakeJob<BiJob>(kListBi, line, status_class, kBiOps);
      r->requestid = record_text(line.requestid);
      return kTypeBi;
    }
    case 'P': {
      auto* r = MakeJob<PcJob>(kListPc, line, status_class, kPcOps);
      r->requestid = record_text(line.requestid);
      return kTypePc;
    }
    case 'V':
      FillQdrsFields(MakeJob<QdrsJob>(kListQdrs, line, status_class, kQdrsOps), line);
      return kTypeQdrs;
    case 'Z':
      if (line.subkind == kSubkindHlbs) {
        FillQdrsFields(MakeJob<HlbsJob>(kListHlbs, line, status_class, kHlbsOps), line);
        return kTypeHlbs;
      }
      FillUnitFields(MakeJob<CustomJob>(kListCustom, line, status_class, kCustomOps), line);
      return kTypeCustom;
    default:  // 'D'
      return kTypeOther;
  }
}

void AddJob(const ComponentLine& line) {
  const int status_class = component_class(line.status, line.extstat);
  const int typecode = MakeJobRecord(line, status_class);
  if (typecode != kTypeOther) g_last_type = typecode;
  count_component(status_class, g_load_table, typecode);
  if (g_current_jnw != nullptr) count_component(status_class, g_current_jnw->counts, typecode);
}

void TraceContent(const char* prefix, const char* what, const JobRecord* r, int64_t offset) {
  if (Debugging()) std::fprintf(stderr, "%s=%s,%s=%" PRId64 "\n", prefix, r->name, what, offset);
}

// Gives the marker line at offset to the job record added last. The trace goes to standard
// error with every other trace: standard output may be the report itself.
void NoteContent(char marker, int64_t offset) {
  const bool first = marker == 'O';
  switch (g_last_type) {
    case kTypeUnit:
    case kTypeCustom: {
      const bool unit = g_last_type == kTypeUnit;
      auto* r = static_cast<UnitJob*>(g_last_added[unit ? kListUnit : kListCustom]);
      if (r == nullptr) return;
      (first ? r->stdout_offset : r->stderr_offset) = offset;
      TraceContent(unit ? "uj" : "cstmj", first ? "stdout" : "stderr", r, offset);
      return;
    }
    case kTypeQdrs:
    case kTypeHlbs: {
      const bool qdrs = g_last_type == kTypeQdrs;
      auto* r = static_cast<QdrsJob*>(g_last_added[qdrs ? kListQdrs : kListHlbs]);
      if (r == nullptr) return;
      (first ? r->stdout_offset : r->stderr_offset) = offset;
      TraceContent(qdrs ? "qdrsj" : "hlbsj", first ? "stdout" : "stderr", r, offset);
      return;
    }
    case kTypePc: {
      auto* r = static_cast<PcJob*>(g_last_added[kListPc]);
      if (r == nullptr) return;
      (first ? r->chainlog_offset : r->chainproc_offset) = offset;
      TraceContent("pc", first ? "spool" : "joblog", r, offset);
      return;
    }
    case kTypeErp: {
      auto* r = static_cast<ErpJob*>(g_last_added[kListErp]);
      if (r == nullptr) return;
      (first ? r->spool_offset : r->joblog_offset) = offset;
      TraceContent("r3", first ? "spool" : "joblog", r, offset);
      return;
    }
    case kTypeBi: {
      auto* r = static_cast<BiJob*>(g_last_added[kListBi]);
      if (r == nullptr || !first) return;
      r->ipkg_offset = offset;
      TraceContent("bw", "joblog", r, offset);
      return;
    }
    default:
      return;
  }
}

void AddJnw(ComponentLine& line) {
  if (std::strcmp(line.status, "wait") == 0) {
    // A waiting network has neither started nor ended, whatever the line carries.
    CopyStamp(line.start, "-");
    CopyStamp(line.end, "-");
  }
  const int status_class = jnw_class(line.status, line.extstat);
  const int64_t start = ToTime(line.start);
  const int64_t end = ToTime(line.end);
  const int64_t expstart = ToTime(line.expstart);
  const int64_t expend = ExpectedEnd(expstart, line.expdur);
  count_component(status_class, g_load_table, kTypeJnw);

  const char* last_colon = std::strrchr(line.name, ':');
  const char* basename = last_colon != nullptr ? last_colon + 1 : line.name;
  if (g_load_summary.jnwname == nullptr) {
    g_load_summary.jnwname = dl_strdup(basename, nullptr, kDlKind);
    g_load_summary.jnwdate = dl_strdup(line.expstart, nullptr, kDlKind);
    g_load_summary.starttime = start;
    g_load_summary.endtime = end;
    g_load_summary.expstarttime = expstart;
    g_load_summary.expendtime = expend;
    g_load_summary.status = status_class;
  }

  auto* r = dl_make<JnwRecord>(record_list(kListJnw), kDlKind);
  const std::string parent =
      last_colon != nullptr ? std::string(line.name, static_cast<size_t>(last_colon - line.name))
                            : std::string();
  r->parentjnw = record_text(parent.c_str());
  r->name = record_text(line.name);
  r->basename = r->name + (basename - line.name);
  r->starttime = start;
  r->endtime = end;
  r->expstarttime = expstart;
  r->expendtime = expend;
  r->status = status_class;

  void* list = record_list(kListJnw);
  for (void* o = dl_first(list, nullptr); o != nullptr; o = dl_next(list, nullptr)) {
    auto* j = static_cast<JnwRecord*>(o);
    if (j != r && equal_nocase(j->name, r->parentjnw)) {
      count_component(status_class, j->counts, kTypeJnw);
      break;
    }
  }
  g_current_jnw = r;
}

}  // namespace

// ---- Parsing ------------------------------------------------------------------------------------

namespace {

// Decodes line, cutting it into words in place; as parse_component_line otherwise.
int ParseInPlace(char* line, ComponentLine& out) {
  if (line[0] == '\t' || line[0] == ' ' || line[0] == '#') return 1;
  Fields f{};
  const int found = svlib_SplitWords(line, f.word, kComponentFields);
  if (found <= 0) return 1;
  f.count = std::min(found, kComponentFields);
  const char type = f.word[0][0];
  switch (type) {
    case 'B':
    case 'D':
    case 'P':
    case 'U':
    case 'X':
      DecodeJob(f, kLayoutCommon, out);
      break;
    case 'V':
      DecodeJob(f, kLayoutQdrs, out);
      break;
    case 'Z': {
      const char* kind = f.at(2);
      out.subkind =
          kind != nullptr && std::strcmp(kind, "java") == 0 ? kSubkindHlbs : kSubkindCustom;
      DecodeJob(f, kLayoutZ, out);
      break;
    }
    case 'E':
    case 'O':
      break;
    case 'J':
      if (DecodeJnw(f, out) != 0) return -1;
      break;
    default:
      return 1;
  }
  out.type = type;
  return 0;
}

}  // namespace

int parse_component_line(const char* line, ComponentLine& out) {
  if (line == nullptr) return 1;
  // The splitter cuts its line in place: a copy, on the stack when the line is a piece of a
  // spool file.
  char local[kLinePieceMax + 1];
  std::string long_line;
  char* work = local;
  const size_t length = std::strlen(line);
  if (length < sizeof local) {
    std::memcpy(local, line, length + 1);
  } else {
    long_line.assign(line, length);
    work = long_line.data();
  }
  return ParseInPlace(work, out);
}

// ---- The load -----------------------------------------------------------------------------------

int summary_reset() {
  summary_free_names();
  g_load_summary = LoadSummary{};
  g_load_table = CountTable{};
  reset_record_lists();
  ForgetLoadPointers();
  return 0;
}

int summary_load(const char* path) {
  // A link swapped in for the spool file after the dump is never read.
  platform::UniqueStream spool(retry32_fopen(path, "rn"));
  if (spool == nullptr) {
    const int err = errno;
    std::fprintf(stderr, "flowtally: Unable to open spool file:%s\n", path);
    std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
    return -1;
  }
  if (jnw_list() == nullptr) summary_reset();
  ForgetLoadPointers();

  ComponentLine line{};
  BlockReader reader(spool.get(), kReadBlockSize);
  char piece[kLinePieceMax + 1];
  int64_t offset = 0;
  bool in_long_line = false;
  for (;;) {
    // Bytes are counted here, not through the stream position, so every offset is exact even
    // beyond 2 GiB.
    bool ended = false;
    const size_t n = reader.Next(piece, kLinePieceMax, &ended);
    if (n == 0) break;
    piece[n] = '\0';
    const int64_t piece_offset = offset;
    offset += static_cast<int64_t>(n);
    if (Debugging()) std::fprintf(stderr, "%" PRId64 ")%s", piece_offset, piece);
    // The rest of a long line is never taken for a line of its own.
    const bool rest_of_long_line = in_long_line;
    in_long_line = !ended;
    if (rest_of_long_line) continue;

    // The piece is not needed after its trace: it is split in place.
    if (ParseInPlace(piece, line) != 0) continue;
    if (Debugging()) std::fprintf(stderr, "ent: type=%c, name=%s\n", line.type, line.name);
    switch (line.type) {
      case 'J':
        AddJnw(line);
        break;
      case 'E':
      case 'O':
        NoteContent(line.type, piece_offset);
        break;
      default:
        AddJob(line);
        break;
    }
  }
  if (reader.failed()) {
    // A load cut short by a read error must not pass for a complete one.
    const int err = reader.error();
    std::fprintf(stderr, "flowtally: Unable to read spool file:%s\n", path);
    std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
    return -1;
  }
  return 0;
}

}  // namespace flowtally
