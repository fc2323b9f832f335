#include "cmds/flowtally/records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cmds/flowtally/nocase.h"
#include "common/datalink.h"

namespace flowtally {

LoadSummary g_load_summary{};
CountTable g_load_table{};

namespace {

// ---- Status classes -----------------------------------------------------------------------------

bool HasAny(const char* extstat, const char* letters) {
  if (extstat == nullptr) return false;
  for (const char* l = letters; *l != '\0'; ++l) {
    if (std::strchr(extstat, *l) != nullptr) return true;
  }
  return false;
}

bool Is(const char* status, const char* word) {
  return status != nullptr && std::strcmp(status, word) == 0;
}

void* g_root = nullptr;
void* g_lists[kListCount] = {};

// The text blocks of the load: slaves of g_texts, filled from the front.
constexpr size_t kTextBlockSize = size_t{64} * 1024;
void* g_texts = nullptr;
char* g_text_next = nullptr;
size_t g_text_left = 0;

}  // namespace

int component_class(const char* status, const char* extstat) {
  if (Is(status, "done")) {
    if (HasAny(extstat, "svb")) return 7;
    if (HasAny(extstat, "rf")) return 8;
    if (HasAny(extstat, "n")) return 16;
    return 6;
  }
  if (Is(status, "estop")) return 9;
  if (Is(status, "run")) return 5;
  if (Is(status, "submit")) return 4;
  if (Is(status, "wait") || Is(status, "prep")) {
    if (HasAny(extstat, "h")) return 2;
    if (HasAny(extstat, "sv")) return 3;
    return 1;
  }
  return 0;
}

int jnw_class(const char* status, const char* extstat) {
  if (Is(status, "done")) {
    if (HasAny(extstat, "svbg")) return 7;
    if (HasAny(extstat, "rf")) return 8;
    if (HasAny(extstat, "n")) return 16;
    return 6;
  }
  if (Is(status, "estop")) return 9;
  if (Is(status, "prep")) return 10;
  if (Is(status, "run")) {
    if (HasAny(extstat, "D")) return 11;
    if (HasAny(extstat, "H")) return 12;
    if (HasAny(extstat, "r")) return 14;
    if (HasAny(extstat, "f")) return 13;
    if (HasAny(extstat, "n")) return 15;
    return 5;
  }
  if (Is(status, "submit")) return 4;
  if (Is(status, "wait")) {
    if (HasAny(extstat, "h")) return 2;
    if (HasAny(extstat, "sv")) return 3;
    if (HasAny(extstat, "w")) return 1;
    return 10;
  }
  return 0;
}

// ---- Counting -----------------------------------------------------------------------------------

void count_class(int status_class, CountBlock& block) {
  ++block.component;
  switch (status_class) {
    case 1:
    case 10:
      ++block.wait;
      break;
    case 2:
      ++block.wait;
      ++block.waithold;
      break;
    case 3:
      ++block.wait;
      ++block.waitskip;
      break;
    case 4:
    case 5:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      ++block.run;
      break;
    case 6:
    case 16:
      ++block.done;
      break;
    case 7:
      ++block.done;
      ++block.doneskip;
      break;
    case 8:
    case 9:
      ++block.error;
      break;
    default:
      break;
  }
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
