// Test hooks of common/: what the unit tests use to reset process-wide state, replace a
// service or count calls. Test code only; the product headers show the product alone.
#pragma once

#include <cstdint>

/// Test seam: the next `allocations` allocations of the registry routines succeed and every
/// later one fails as an exhausted heap does; a negative count turns the failure off.
void CommonRegFailAllocationsAfterForTest(int allocations);

/// Test seam: forgets every name, identifier and table kept so far.
void KSAccountResetForTest();

/// Test seam: forgets the language id read so far, so that the next KSGetLanguageId reads the
/// registry again.
void KSResetLanguageIdForTest();

/// Counts of the store, for tests: live objects, live links, and inconsistencies traced.
struct DlCounts {
  int64_t objects = 0;
  int64_t links = 0;
  int64_t diagnostics = 0;
};
DlCounts dl_counts_for_test();

/// Test seam: empties the cache and forgets the retry settings.
void lw_PwResetForTest();

/// Test seam: the next call of each kind reads KS_REGOPENKEYEX_RETRY again.
void KSRegResetRetryForTest();
