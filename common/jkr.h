// Traced file operations: each clears an error record when it starts and fills it on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr size_t kJkrTextSize = 256;

/// The error record of a traced operation.
struct JkrError {
  /// The C library error number (errno), or -1 when only the system code applies.
  int32_t error_number = 0;
  /// The system error code (platform/error.h).
  uint32_t system_code = 0;
  /// "<operation>(<line>):" from the start of the operation, then the failure's details;
  /// always terminated, cut at the record's size.
  char text[kJkrTextSize] = {};
};

/// Attempt count and pause of jkr_fopen when fopen_retrytimes is set (a count of 0, below 0 or
/// above the maximum counts as the maximum), and when it cannot be read.
inline constexpr int kJkrFopenMaxAttempts = 180;
inline constexpr uint32_t kJkrFopenSetPauseMs = 1000;
inline constexpr int kJkrFopenDefaultAttempts = 5;
inline constexpr uint32_t kJkrFopenDefaultPauseMs = 200;

/// Opens path with mode into *stream, retrying on sharing violations under the policy of the
/// product key's string value fopen_retrytimes (read afresh at each call). 0, or -1 with the
/// record filled (*stream is then null).
int jkr_fopen(FILE** stream, const char* path, const char* mode, JkrError* err);

/// fgets: buffer, or nullptr at the end of the stream or on a read error (recorded).
char* jkr_fgets(char* buffer, int size, FILE* stream, JkrError* err);

/// fclose: 0, or -1 (recorded). The stream is gone either way.
int jkr_fclose(FILE* stream, JkrError* err);

/// Copies source over target (flags 0: a plain copy that replaces the target's contents),
/// retrying on sharing violations as the retry32 wrappers do. 0, or -1 with the record filled
/// and "<source> -> <target>" appended. Other flags are refused (87).
int jkr_cp(const char* source, const char* target, int flags, JkrError* err);

/// Locks one byte at the stream's current position, waiting for it (see
/// platform::LockStreamByte); jkr_file_unlock releases the byte at the current position.
/// 0, or non-zero with the record filled.
int jkr_file_lock(FILE* stream, JkrError* err);
int jkr_file_unlock(FILE* stream, JkrError* err);
