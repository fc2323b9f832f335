// The product's accounts: the manager account and the operator group named in the registry,
// the manager's security identifier, the well-known accounts, and the lookup of an account by
// name that qualifies a bare name with its domain first.
//
// Identifiers are texts (see platform/account.h). Names and identifiers are kept for the
// process once read; nothing is refreshed during a run. Nothing here writes to standard error;
// the diagnostics go to the diagnostic trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/account.h"
#include "platform/security.h"

/// Capacity of the manager's identifier and of the domain buffer of its lookup.
inline constexpr size_t kKSSidBufSize = 128;
inline constexpr size_t kKSDomainBufSize = 256;
/// Capacity of the cached manager and group names, and of KSMgrAccountName's buffer.
inline constexpr size_t kKSNameBufSize = 256;
inline constexpr size_t kKSMgrAccountBufSize = 4097;

/// The manager account name (KSMgrAccount), read once and kept; nullptr when it cannot be
/// read (a diagnostic is traced).
const char* GetKSmgrname();

/// The operator group name (KSOpGroup), read once and kept; nullptr when it cannot be read.
const char* GetKSgrpname();

/// The manager account name, read afresh at each call into one buffer that the next call
/// overwrites; nullptr without a diagnostic when it cannot be read.
const char* KSMgrAccountName();

/// The manager account's identifier, looked up once and kept; nullptr with the lookup's
/// last-error code when it cannot be had, or with 1317 (no such user) when the manager
/// account is not a user.
const char* KSMgrSid();

/// 1 when name is one of the twelve well-known accounts (case ignored), else 0.
int KSIsWellKnownAccount(const char* name);

/// Looks an account up on system (nullptr: the local machine) after qualifying the name:
/// "<domain>\<well-known>" is looked up as the bare well-known name, another name with a '\'
/// as it is, a well-known name unchanged, a user with a record as "<pw_domain>\<pw_name>",
/// any other name with the machine's domain (lw_NetUserModalsGet) when it has one. The
/// identifier goes into sid (*sid_size bytes), the account's domain into domain
/// (*domain_size bytes); both sizes receive the bytes stored, or needed with 122 when too
/// small. Non-zero on success; 0 with the last-error code set (1057 for an absent name).
int KSLookupAccountName(const char* system, const char* name, char* sid, uint32_t* sid_size,
                        char* domain, uint32_t* domain_size, platform::AccountUse* use);

/// KSLookupAccountName on the local machine into strings: the account's identifier and the
/// domain that holds it. False with the last-error code set.
bool KSLookupAccountSid(const char* name, std::string* sid, std::string* domain);

/// The identifier of the operator group, qualified as "<domain>\<group>" when domain (the
/// domain an account lookup reported) is not empty. Where a user or a well-known account
/// shares the group's name, the local group of that name is taken. nullptr with the
/// last-error code set. The text lives in a buffer that the next call overwrites.
const char* KSOperatorGroupSid(const char* domain);

/// The access list of what the product creates for itself: full control for the manager
/// account, the operator group (when with_operators; in the domain that holds the caller),
/// Administrators, and the caller when that is not the manager account; then everyone for
/// Everyone. False with the last-error code set when an identifier cannot be had.
bool KSProductAccessList(bool with_operators, platform::AccessRights everyone,
                         platform::AccessList* list);
