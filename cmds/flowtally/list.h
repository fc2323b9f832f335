// Listing mode: the table of the entry list, or its records in a form that programs read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace flowtally {

/// Writes one row per entry of the entry list, in list order, on out. Returns 0.
int list_trackers(FILE* out);

/// Writes one record per entry of the entry list, in list order, on out, in the form, with the
/// fields and in the zone that -l chose: tab- or comma-separated lines after a header line of
/// the field names (unless notitle), JSON Lines, or one JSON document. An empty list still
/// gets the header line or the empty document. Returns 0.
int list_records(FILE* out);

/// The listing's status text for a status code and the tool's extended-status letters.
const char* status_text(int32_t status, const std::string& flags);

/// A time column: the UTC stamp in local time as "%m/%d-%H:%M", or "-" for an absent time.
void format_list_time(const char* stamp, char* out, size_t size);

}  // namespace flowtally
