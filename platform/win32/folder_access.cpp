// The private folder's security descriptor: the token facts that choose its guard, and the access
// list and label that each guard stands for.
#include "platform/win32/folder_access.h"

namespace platform {

bool ReadTokenFacts(TokenFacts& facts) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenUser, facts.user, sizeof facts.user, &size) != FALSE;
  // A system without elevation (before Vista) has no such class: no token there counts as elevated,
  // and the user's own processes hold every right of the installer's anyway.
  TOKEN_ELEVATION elevation = {};
  facts.elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                   elevation.TokenIsElevated != 0;
  CloseHandle(token);
  facts.system = known && IsWellKnownSid(facts.UserSid(), WinLocalSystemSid);
  return known;
}

bool FolderDescriptor::Build(FolderGuard guard, PSID user) {
  DWORD adminsSize = sizeof admins_, systemSize = sizeof system_, highSize = sizeof high_;
  if (!CopySid(sizeof user_, user_, user) ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &adminsSize) ||
      !CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize)) {
    return false;
  }
  const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  auto* dacl = reinterpret_cast<ACL*>(dacl_);
  if (!InitializeAcl(dacl, sizeof dacl_, ACL_REVISION) ||
      !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) {
    return false;
  }
  if (guard == FolderGuard::UserOnly) {
    for (PSID sid : {static_cast<PSID>(user_), static_cast<PSID>(admins_), static_cast<PSID>(system_)}) {
      if (!AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited, FILE_ALL_ACCESS, sid)) return false;
    }
  } else {
    // The user's own unelevated processes hold the user's SID too: it may read and run the files,
    // never add, change, delete or rename any. The Administrators own the folder, so that the user
    // has no owner's right to rewrite the list either (with a token's default owner it could be the
    // user, where a system is set up so). The label stops every process below High integrity
    // (the user's unelevated ones) from writing even where a list would allow it; inherited by the
    // files, it covers them too.
    if (!AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited, FILE_ALL_ACCESS, admins_) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited, FILE_ALL_ACCESS, system_) ||
        (!EqualSid(user_, system_) &&
         !AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, user_))) {
      return false;
    }
    // (Labels exist from Vista on, as elevation does: a system that knows no High label SID has no
    // elevated tokens and never gets here.)
    auto* sacl = reinterpret_cast<ACL*>(sacl_);
    if (!CreateWellKnownSid(WinHighLabelSid, nullptr, high_, &highSize) ||
        !InitializeAcl(sacl, sizeof sacl_, ACL_REVISION) ||
        !AddMandatoryAce(sacl, ACL_REVISION, inherited, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, high_) ||
        !SetSecurityDescriptorSacl(&descriptor_, TRUE, sacl, FALSE) ||
        !SetSecurityDescriptorOwner(&descriptor_, admins_, FALSE)) {
      return false;
    }
  }
  // Protected: the temporary directory's own entries (a shared one may grant Everyone) are not
  // inherited.
  return SetSecurityDescriptorDacl(&descriptor_, TRUE, dacl, FALSE) &&
         SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace platform
