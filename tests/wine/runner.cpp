// runner.exe: runs the rest of its own command line as a Windows command line and prints the full
// 32-bit exit status, which Wine would otherwise cut to 8 bits ("EXITCODE 4294967295 -1").
#include <windows.h>

#include <cstdio>

int main() {
  const char* p = GetCommandLineA();
  // Skip our own program name (quoted or not) and the blanks after it.
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {
    }
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;

  static char line[32768];
  lstrcpynA(line, p, sizeof line);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::printf("runner: cannot start '%s' (error %lu)\n", line, GetLastError());
    return 2;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  std::printf("EXITCODE %lu %ld\n", static_cast<unsigned long>(code), static_cast<long>(code));
  std::fflush(stdout);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}
