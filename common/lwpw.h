// User records of the product: the table under the product key's LW_PW keys, kept in a
// process-wide cache, and the machine's domain query with its retries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Capacity of one value read from the user record table.
inline constexpr size_t kPwValueBufSize = 260;
inline constexpr size_t kPwDomainSize = 256;

/// A user record. The texts live in buffers of the lookup that the next lookup overwrites.
struct PwRecord {
  const char* pw_name = "";
  const char* pw_passwd = "";  // always empty
  int32_t pw_uid = 0;
  int32_t pw_gid = 0;  // always 0
  const char* pw_age = "";
  const char* pw_comment = "";
  const char* pw_gecos = "";
  const char* pw_dir = "";
  const char* pw_shell = "";  // the command interpreter
  char pw_domain[kPwDomainSize] = {};
};

/// Fills record for the account name: from the cache (the name compared in lower case), or
/// from the user record table by name and then by number, after which the record is cached.
/// 0, or -1 (a diagnostic is traced).
int lw_GetPWbyname(const char* name, PwRecord* record);

/// What the domain query gives at level 2.
struct UserModalsInfo2 {
  std::string domain_name;  // "" when the machine has no domain
};

/// The machine's domain query (platform::MachineDomain). The statuses 1722, 1723 and 53 are
/// retried, pausing RetryInterval ms (product key, below 60001; default 100) after each
/// failure, until the retries exceed RetryTimes (below 101; default 5); both are read on first
/// use. Returns the last status: 0 with info filled.
uint32_t lw_NetUserModalsGet(const char* server, uint32_t level, UserModalsInfo2* info);

/// Test seam: empties the cache and forgets the retry settings.
void lw_PwResetForTest();
