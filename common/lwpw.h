// User records of the product: the table under the product key's LW_PW keys, kept in a
// process-wide cache, and the machine's domain query with its retries.
//
// The table (all values strings):
//   ...\LW_PW\name  "homedir_<name>", "uid_<name>" (decimal), "domainname_<name>"
//   ...\LW_PW\uid   "name_<uid>", "homedir_<uid>", "domainname_<uid>"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Capacity of one value read from the user record table.
inline constexpr size_t kPwValueBufSize = 260;
inline constexpr size_t kPwDomainSize = 256;

/// A user record. The texts live in buffers of the calling thread that its next successful
/// lookup overwrites.
struct PwRecord {
  const char* pw_name = "";
  const char* pw_passwd = "";  // always empty
  int32_t pw_uid = 0;
  int32_t pw_gid = 0;  // always 0
  const char* pw_age = "";
  const char* pw_comment = "";
  const char* pw_gecos = "";
  const char* pw_dir = "";
  const char* pw_shell = "";  // the command interpreter, "/bin/sh"
  char pw_domain[kPwDomainSize] = {};
};

/// Fills record for the account name: from the cache (the name compared in lower case), or
/// from the user record table by name (for the number) and then by number (for the texts),
/// after which the record is cached under the lower-cased name and the number. 0, or -1 (a
/// diagnostic is traced, record untouched) for an absent, empty or over 255-character name, a
/// key or value that cannot be read, a "uid_" value that is not a decimal 32-bit number, or a
/// value that does not fit its buffer with its terminator (kPwValueBufSize bytes, the domain
/// kPwDomainSize): such a value is refused, never cut.
int lw_GetPWbyname(const char* name, PwRecord* record);

/// What the domain query gives at level 2.
struct UserModalsInfo2 {
  std::string domain_name;  // "" when the machine has no domain
};

/// The machine's domain query (platform::MachineDomain). The statuses 1722, 1723 and 53 are
/// retried, pausing RetryInterval ms (product key, below 60001; default 100) after each such
/// failure, until the retries exceed RetryTimes (below 101; default 5): at most RetryTimes + 1
/// calls. Both settings are read once, on first use. Returns the last status: 0 with info
/// filled; 87 for an absent info.
uint32_t lw_NetUserModalsGet(const char* server, uint32_t level, UserModalsInfo2* info);
