// Diagnostic output of the common routines: the diagnostic trace and the common logger.
#pragma once

#include <cstddef>

/// Trace levels of the diagnostic trace.
enum LwlogLevel {
  kLwlogError = 0,
  kLwlogDebug = 1,
  kLwlogF = 2,
  kLwlogI = 3,
  kLwlogL = 4,
  kLwlogW = 5
};

/// Writes a line to the diagnostic trace. This command never opens the trace, so the line is
/// accepted and dropped: the result is -1. The last-error code is left as it was found.
int lwlog_trace(int level, const char* source, int line, const char* function, const char* format,
                ...) __attribute__((format(printf, 5, 6)));

/// Common logger levels.
enum CommonLogLevel { kLogDbg = 0, kLogNml = 1, kLogWar = 2, kLogErr = 3 };

/// Writes "[time]:pid:LEVEL:source(line):function(): message" to standard error for levels at
/// or above the threshold (3). 0 when written or dropped by the threshold; -1 when an argument
/// is absent, the level has no name, or the time cannot be formed.
int common_logger(const char* source, int line, const char* function, int level, const char* format,
                  ...) __attribute__((format(printf, 5, 6)));
