// Within platform/ only: what the shared account code asks of each system.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// Whether system names this machine: nullptr, "" and the host name itself all do.
bool IsLocalMachine(const char* system);

/// The system's own domain of this machine, "" when it has none. 0, or a system error code.
uint32_t SystemDomainName(std::string* domain);

}  // namespace platform
