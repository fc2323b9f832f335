// Print mode: a report per entry of the entry list, readable or CSV.
#pragma once

#include <cstdio>

namespace flowtally {

/// Dumps, loads and reports each tracker of the entry list in turn on out. A tracker that
/// fails gets one message and the next one is handled. Returns 0.
int print_mode(FILE* out);

}  // namespace flowtally
