// fatal_probe.exe CODE MODE SCRIPT: calls ReportFatal(CODE, SCRIPT) as the installer (MODE "box"),
// the silent installer ("silent") or the builder ("builder") would, so the tests can read the real
// message box and the full exit status.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app/fatal.h"
#include "app/main.h"
#include "app/process_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* args = ArgumentText(GetCommandLineA());
  char* end = nullptr;
  const int code = static_cast<int>(std::strtol(args, &end, 10));
  while (*end == ' ') ++end;
  if (std::strncmp(end, "silent ", 7) == 0) silentMode = 1;
  if (std::strncmp(end, "builder ", 8) == 0) RunStatus.builderMode = 1;
  const char* path = std::strchr(end, ' ');
  ReportFatal(code, path != nullptr ? path + 1 : "");
}
