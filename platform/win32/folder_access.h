// The security descriptor of a private folder (see FolderGuard in platform/platform.h), built from the
// process token with the system's own access-list calls; the Windows tests read it back.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace platform {

// What the folder's guard is decided from: the process token's user and elevation.
struct TokenFacts {
  // TOKEN_USER is followed by its SID; the largest SID is 68 bytes.
  alignas(8) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  bool elevated = false;  // the token is elevated (a system without elevation has none that is)
  bool system = false;    // the user is SYSTEM
  PSID UserSid() { return reinterpret_cast<TOKEN_USER*>(user)->User.Sid; }
};
// Reads the process token's facts; false when the token cannot be read.
bool ReadTokenFacts(TokenFacts& facts);

// A descriptor for CreatePrivateDirectory, every entry inheritable by what is created in the folder:
//   UserOnly:      D:P  full control for `user`, the Administrators and SYSTEM
//   InstallerOnly: O:BA D:P  full control for the Administrators and SYSTEM, read and execute for
//                  `user` (left out when `user` is SYSTEM)  S: a High label, no-write-up
// Not copyable: the descriptor points into the object itself.
class FolderDescriptor {
 public:
  FolderDescriptor() = default;
  FolderDescriptor(const FolderDescriptor&) = delete;
  FolderDescriptor& operator=(const FolderDescriptor&) = delete;

  // False when the system refuses a step; `user` is copied.
  bool Build(FolderGuard guard, PSID user);
  PSECURITY_DESCRIPTOR Get() { return &descriptor_; }

 private:
  // Three allowed entries and one label entry, each at most the size of its header and a SID.
  alignas(8) BYTE user_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE high_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE dacl_[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  alignas(8) BYTE sacl_[sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) + SECURITY_MAX_SID_SIZE] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
};

}  // namespace platform
