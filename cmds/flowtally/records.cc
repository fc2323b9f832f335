#include "cmds/flowtally/records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cmds/flowtally/letters.h"
#include "cmds/flowtally/nocase.h"
#include "common/datalink.h"

namespace flowtally {

LoadSummary g_load_summary{};
CountTable g_load_table{};

namespace {

// ---- Status classes -----------------------------------------------------------------------------

bool Is(const char* status, const char* word) {
  return status != nullptr && std::strcmp(status, word) == 0;
}

// The counters that the status class table names.
constexpr auto kNoCount = nullptr;
constexpr auto kWaitCount = &CountBlock::wait;
constexpr auto kRunCount = &CountBlock::run;
constexpr auto kDoneCount = &CountBlock::done;
constexpr auto kErrorCount = &CountBlock::error;

// The class of a finished component or network: skip_letters mark a skipped one.
StatusClass done_class(const char* extstat, const char* skip_letters) {
  if (has_any_letter(extstat, skip_letters)) return kClassDoneSkip;
  if (has_any_letter(extstat, "rf")) return kClassError;
  if (has_any_letter(extstat, "n")) return kClassDoneWarn;
  return kClassDone;
}

void* g_root = nullptr;
void* g_lists[kListCount] = {};

// The text blocks of the load: slaves of g_texts, filled from the front.
constexpr size_t kTextBlockSize = size_t{64} * 1024;
void* g_texts = nullptr;
char* g_text_next = nullptr;
size_t g_text_left = 0;

}  // namespace

constexpr StatusClassInfo kStatusClassTable[kStatusClasses] = {
    {"undef", "undef", "undef", kNoCount, kNoCount, false, false},
    {"wait", "wait", "wait", kWaitCount, kNoCount, false, false},
    {"wait (hold)", "wait_hold", "wait_hold", kWaitCount, &CountBlock::waithold, false, false},
    {"wait (skip)", "wait_skip", "wait_skip", kWaitCount, &CountBlock::waitskip, false, false},
    {"submit", "submit", "submit", kRunCount, kNoCount, false, false},
    {"run", "run", "run", kRunCount, kNoCount, false, false},
    {"done", "done", "done", kDoneCount, kNoCount, false, false},
    {"done (skip)", "done_skip", "done_skip", kDoneCount, &CountBlock::doneskip, false, false},
    {"error", "error", "error", kErrorCount, kNoCount, true, true},
    {"error (stop)", "errorstop", "error_stop", kErrorCount, kNoCount, true, true},
    {"prepare", "prepare", "prepare", kWaitCount, kNoCount, false, false},
    {"run(dialog)", "run_dialog", "run_dialog", kRunCount, kNoCount, false, false},
    {"run", "run", "run_hold", kRunCount, kNoCount, false, false},
    {"error", "run_error", "run_error", kRunCount, kNoCount, false, true},
    {"error (stop)", "errorstop", "run_estop", kRunCount, kNoCount, false, true},
    {"run(warn)", "run_warn", "run_warn", kRunCount, kNoCount, false, false},
    {"done(warn)", "run_warn", "done_warn", kDoneCount, kNoCount, false, false},
};

StatusClass component_class(const char* status, const char* extstat) {
  if (Is(status, "done")) return done_class(extstat, "svb");
  if (Is(status, "estop")) return kClassErrorStop;
  if (Is(status, "run")) return kClassRun;
  if (Is(status, "submit")) return kClassSubmit;
  if (Is(status, "wait") || Is(status, "prep")) {
    if (has_any_letter(extstat, "h")) return kClassWaitHold;
    if (has_any_letter(extstat, "sv")) return kClassWaitSkip;
    return kClassWait;
  }
  return kClassUndef;
}

StatusClass jnw_class(const char* status, const char* extstat) {
  if (Is(status, "done")) return done_class(extstat, "svbg");
  if (Is(status, "estop")) return kClassErrorStop;
  if (Is(status, "prep")) return kClassPrepare;
  if (Is(status, "run")) {
    if (has_any_letter(extstat, "D")) return kClassRunDialog;
    if (has_any_letter(extstat, "H")) return kClassRunHold;
    if (has_any_letter(extstat, "r")) return kClassRunEstop;
    if (has_any_letter(extstat, "f")) return kClassRunError;
    if (has_any_letter(extstat, "n")) return kClassRunWarn;
    return kClassRun;
  }
  if (Is(status, "submit")) return kClassSubmit;
  if (Is(status, "wait")) {
    if (has_any_letter(extstat, "h")) return kClassWaitHold;
    if (has_any_letter(extstat, "sv")) return kClassWaitSkip;
    if (has_any_letter(extstat, "w")) return kClassWait;
    return kClassPrepare;
  }
  return kClassUndef;
}

// ---- Counting -----------------------------------------------------------------------------------

void count_class(int status_class, CountBlock& block) {
  const StatusClassInfo& info = status_class_info(status_class);
  ++block.component;
  if (info.counter != nullptr) ++(block.*info.counter);
  if (info.detail != nullptr) ++(block.*info.detail);
}

void count_component(int status_class, CountTable& table, int typecode) {
  count_class(status_class, table.block[kBlockAll]);
  int index = kBlockOther;
  switch (typecode) {
    case kTypeJnw:
      index = kBlockJnw;
      break;
    case kTypeUnit:
      index = kBlockUnit;
      break;
    case kTypeErp:
      index = kBlockErp;
      break;
    case kTypeBi:
      index = kBlockBi;
      break;
    case kTypeQdrs:
      index = kBlockQdrs;
      break;
    case kTypePc:
      index = kBlockPc;
      break;
    case kTypeHlbs:
      index = kBlockHlbs;
      break;
    case kTypeCustom:
      index = kBlockCustom;
      break;
    default:  // kTypeOther and unknown codes
      break;
  }
  count_class(status_class, table.block[index]);
}

// ---- The loaded tracker ----------------------------------------------------------------------

void summary_free_names() {
  dl_free(g_load_summary.jnwname);
  dl_free(g_load_summary.jnwdate);
  g_load_summary.jnwname = nullptr;
  g_load_summary.jnwdate = nullptr;
}

// ---- Lists --------------------------------------------------------------------------------------

void reset_record_lists() {
  if (g_root == nullptr) g_root = dl_new(0);
  for (void*& list : g_lists) {
    dl_free(list);
    list = dl_alloc(0, g_root, kDlKind);
  }
  dl_free(g_texts);
  g_texts = dl_alloc(0, g_root, kDlKind);
  g_text_next = nullptr;
  g_text_left = 0;
}

char* record_text(const char* text) {
  if (text == nullptr) text = "";
  if (g_texts == nullptr) reset_record_lists();
  const size_t size = std::strlen(text) + 1;
  char* copy;
  if (size > kTextBlockSize / 4) {
    // A long text takes a block of its own rather than most of a shared one.
    copy = static_cast<char*>(dl_alloc(size, g_texts, kDlKind));
  } else {
    if (g_text_left < size) {
      g_text_next = static_cast<char*>(dl_alloc(kTextBlockSize, g_texts, kDlKind));
      g_text_left = kTextBlockSize;
    }
    copy = g_text_next;
    g_text_next += size;
    g_text_left -= size;
  }
  std::memcpy(copy, text, size);
  return copy;
}

void* record_list(RecordListIndex index) { return g_lists[index]; }

void* jnw_list() { return g_lists[kListJnw]; }
void* unitjob_list() { return g_lists[kListUnit]; }
void* erpjob_list() { return g_lists[kListErp]; }
void* bijob_list() { return g_lists[kListBi]; }
void* pcjob_list() { return g_lists[kListPc]; }
void* qdrsjob_list() { return g_lists[kListQdrs]; }
void* hlbsjob_list() { return g_lists[kListHlbs]; }
void* customjob_list() { return g_lists[kListCustom]; }

// ---- Sorted view --------------------------------------------------------------------------------

SortedView sorted_view(void* list) {
  SortedView records;
  records.reserve(dl_nchild(list));
  for (void* o = dl_first(list, nullptr); o != nullptr; o = dl_next(list, nullptr)) {
    records.push_back(static_cast<RecordHead*>(o));
  }
  // Parent first, then name: a test on the name alone would let a record of a later parent
  // overtake records of an earlier one whenever its name is smaller. Records of one network
  // share their parent text, so equal parents are mostly the same pointer.
  auto before = [](const RecordHead* a, const RecordHead* b) {
    if (a->parentjnw != b->parentjnw) {
      const int by_parent = compare_nocase(a->parentjnw, b->parentjnw);
      if (by_parent != 0) return by_parent < 0;
    }
    return compare_nocase(a->name, b->name) < 0;
  };
  // A tracker lists its components in order, so a list (newest first) mostly holds them in
  // descending order: such a list is reversed rather than sorted, which is stable because no two
  // of its keys are equal.
  bool descending = true;
  for (size_t i = 1; i < records.size() && descending; ++i) {
    descending = before(records[i], records[i - 1]);
  }
  if (descending) {
    std::reverse(records.begin(), records.end());
  } else {
    std::stable_sort(records.begin(), records.end(), before);
  }
  return records;
}

}  // namespace flowtally
