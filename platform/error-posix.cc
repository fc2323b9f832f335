#include "platform/error.h"

namespace platform {

namespace {
thread_local uint32_t last_error = kErrorSuccess;
}  // namespace

uint32_t GetLastError() { return last_error; }

void SetLastError(uint32_t code) { last_error = code; }

}  // namespace platform
