// page_finisher.exe: the finishing command of the installer page's tests. "page_finisher MS STATUS"
// notes in page-finisher.ran (current directory) that it ran, sleeps MS milliseconds, and exits with
// STATUS, so one program plays a quick or a slow command with any outcome.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  char* rest = arguments;
  const unsigned long sleepMs = std::strtoul(rest, &rest, 10);
  const unsigned long status = std::strtoul(rest, &rest, 10);
  if (FILE* ran = std::fopen("page-finisher.ran", "a")) {
    std::fprintf(ran, "%lu %lu\n", sleepMs, status);
    std::fclose(ran);
  }
  Sleep(sleepMs);
  return static_cast<int>(status);
}
