// The caller's account name.
#pragma once

/// The passwd name of the effective user, in one process-wide 4096-byte buffer that each call
/// overwrites; nullptr when it cannot be had.
char* lw_GetUserName();
