// Within the Windows files of platform/ only: the system's interfaces, without the macros that
// would rename this layer's own functions (the A/W name macros) or break std::min and max. The
// Windows files include no other system header that needs windows.h first.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need:
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#undef CreateDirectory
#undef GetUserName
#undef LookupAccountName
#undef LookupAccountSid
#undef RegOpenKeyEx
#undef SetEnvironmentVariable
