// The platform family, the shutdown privilege and the restart request.
#include <windows.h>

#include "installer/privileges.h"

bool IsNtFamily() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES request = {};
  request.PrivilegeCount = 1;
  request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &request.Privileges[0].Luid)) {
    TOKEN_PRIVILEGES previous = {};
    DWORD previousSize = sizeof previous;
    AdjustTokenPrivileges(token, FALSE, &request, sizeof previous, &previous, &previousSize);
  }
  CloseHandle(token);
}

bool RequestRestart() { return ExitWindowsEx(EWX_REBOOT, 0) != FALSE; }
