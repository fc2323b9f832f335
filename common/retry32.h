// File operations that retry while another process holds the file (sharing violation, 32).
//
// Each wrapper makes one attempt. When it fails with any code other than 32 the failure is
// returned at once. After a first failure with 32 the retry settings are read from the product
// key, and the operation is attempted again up to the retry count, pausing the retry interval
// (through platform::Sleep) after each further failure with 32; another code ends the sequence.
// With the defaults that is at most six attempts and five pauses of 200 ms. The wrappers keep
// no state between calls. On failure the last-error code and errno are those of the last
// attempt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "platform/file.h"

inline constexpr uint32_t kRetry32DefaultCount = 5;
inline constexpr uint32_t kRetry32DefaultIntervalMs = 200;

/// The settings Error32RetryCount (1 to 60) and Error32RetryInterval (200 to 3000 ms).
struct Retry32Settings {
  uint32_t count = kRetry32DefaultCount;
  uint32_t interval_ms = kRetry32DefaultIntervalMs;
};

/// Reads the settings from the product key. When either value is missing or out of its
/// range, both defaults apply together (5 retries, 200 ms).
Retry32Settings retry32_settings();

/// Runs attempt under the policy above. attempt returns true on success, or false with the
/// last-error code set. Returns true when an attempt succeeded.
bool retry32_run(const std::function<bool()>& attempt);

/// fopen with the product's sharing rule. The stream, or nullptr.
FILE* retry32_fopen(const char* path, const char* mode);

/// freopen with the product's sharing rule. stream, or nullptr; a sharing conflict leaves the
/// stream open and unchanged between attempts (see platform::ReopenStream).
FILE* retry32_freopen(const char* path, const char* mode, FILE* stream);

/// Opens a system file handle (see platform::OpenFileHandle); template_file is ignored.
/// The handle, or platform::kInvalidFileHandle.
platform::FileHandle retry32_CreateFile(const char* path, uint32_t access, uint32_t sharing,
                                        const platform::FileSecurity* security,
                                        uint32_t disposition, uint32_t attributes,
                                        platform::FileHandle template_file);

/// creat: a descriptor (close with platform::CloseDescriptor), or -1.
int retry32_creat(const char* path, uint32_t permission);

/// rename (never replaces an existing target): 0, or non-zero.
int retry32_rename(const char* from, const char* to);
