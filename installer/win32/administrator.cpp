// IsAdministrator with the process token's group list.
#include <windows.h>

#include "installer/privileges.h"

std::int32_t IsAdministrator() {
  HANDLE token = nullptr;
  // Fails on the 9x family, which has no tokens: not an administrator, and the caller knows that
  // the family decides what that means.
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token)) return 0;
  std::int32_t member = 0;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size != 0) {
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (block != nullptr) {
      SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
      PSID administrators = nullptr;
      if (GetTokenInformation(token, TokenGroups, block, size, &size) &&
          AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                   DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        const auto* groups = static_cast<const TOKEN_GROUPS*>(block);
        // Membership alone counts: a deny-only group (a filtered token) is still the group.
        for (DWORD i = 0; i < groups->GroupCount && member == 0; ++i) {
          if (EqualSid(groups->Groups[i].Sid, administrators)) member = 1;
        }
        FreeSid(administrators);
      }
      HeapFree(GetProcessHeap(), 0, block);
    }
  }
  CloseHandle(token);
  return member;
}
