// Time stamps ("YYYYMMDDhhmmss", 14 digits; "-" for an absent time) and time values (signed
// 64-bit seconds since 1970-01-01 00:00:00 UTC; -1 for an absent time).
#pragma once

#include <cstdint>

/// Size of a time stamp buffer: 14 digits and the terminator.
inline constexpr int kTimeStampSize = 15;

/// UTC stamp, or "-", to a time value, computed arithmetically. 0 on success; -1 when the
/// text is not a stamp or names 1970-01-01 00:00:00 (time value 0).
int svlib_CnvStrTime(const char* stamp, int64_t* t);

/// UTC stamp to time value; 0 when the first 14 characters are not all digits.
int64_t str2time_t(const char* stamp);

/// Days since 1970-01-01 (every fourth year from 1972 a leap year); 0 for a month outside 1..12,
/// a year outside 0..9999, or a day so far out that the count does not fit an int.
int ymd2day(int year, int month, int day);

/// Local stamp, or "-", to a time value through the local-time conversion. 0, or -1 when the
/// text is shorter than 14 characters. An instant before 1970-01-01 00:00:00 UTC gives -1.
int svlib_CnvLocalTime(const char* stamp, int64_t* t);

/// Time value to a UTC stamp (out holds kTimeStampSize bytes); -1 gives "-", and so does any
/// value that has no 14-digit stamp (other negative values, years after 9999). Returns 0.
int svlib_CnvTimeStr(int64_t t, char* out);

/// Local stamp to UTC stamp (out holds kTimeStampSize bytes). 0, or -1 with out untouched when
/// the input is too short.
int svlib_CnvLocalStr(const char* local, char* out);

/// Compares two stamps character by character over at most 14 pairs: -1, 0 or 1.
int svlib_CmpStrTime(const char* a, const char* b);
