// System error codes in the product's own numbering, and the per-thread last-error code.
//
// The product reasons in Windows system error codes; every message that prints an "ec=" or a
// system code prints one of these numbers. The POSIX implementation maps errno into them once,
// here, so no layer above has to know errno values.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum SystemError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorNotReady = 21,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorInvalidLevel = 124,
  kErrorDirNotEmpty = 145,
  kErrorBusy = 170,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
  kErrorMoreData = 234,
  kErrorDirectory = 267,
  kErrorInvalidServiceAccount = 1057,  // the account name is invalid or does not exist
  kErrorNoSuchUser = 1317,
  kErrorNoneMapped = 1332,
  kErrorInvalidSid = 1337,
  kErrorRpcServerUnavailable = 1722,
  kErrorRpcServerTooBusy = 1723,
};

/// The calling thread's last-error code.
uint32_t GetLastError();
void SetLastError(uint32_t code);

/// Maps a C library error number to a system error code (kErrorGenFailure when unknown).
uint32_t ErrorFromErrno(int err);

/// Sets the last-error code from the current errno and returns it.
uint32_t SetLastErrorFromErrno();

/// The platform's own wording for a C library error number (what perror would print).
std::string ErrnoText(int err);

}  // namespace platform
