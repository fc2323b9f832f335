// Within the Windows files of platform/ only: the security descriptor that a creation passes to
// the system, so that a file or directory exists only ever with its access list.
#pragma once

#include <vector>

#include "platform/security.h"
#include "platform/windows-win32.h"

namespace platform {

/// A self-contained security descriptor and the attributes that point at it. Not copyable: the
/// attributes point into the object.
class CreationSecurity {
 public:
  CreationSecurity() = default;
  CreationSecurity(const CreationSecurity&) = delete;
  CreationSecurity& operator=(const CreationSecurity&) = delete;

  /// Builds the descriptor of security for a file or (directory) a directory. False with the
  /// last-error code set (1337 for an identifier that is not one).
  bool Build(const FileSecurity& security, bool directory);
  /// Builds a descriptor that gives the calling user full control and nobody else anything.
  bool BuildOwnerOnly();

  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  bool Finish(const std::vector<std::vector<BYTE>>& sids, const std::vector<DWORD>& masks,
              BYTE ace_flags, bool protect);

  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace platform
