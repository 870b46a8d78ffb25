// fatal_probe.exe CODE MODE SCRIPT: reports failure CODE with the script at SCRIPT as the installer
// (MODE "box") or the silent installer ("silent") does, so the tests can read the real message box
// and the full exit status. MODE "builder" ends as a failed build does: no box, status -1.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main.h"
#include "installer/installer.h"
#include "script/ini.h"

namespace {

// The script's bytes, or an empty script when the file cannot be read (the fallback box's case).
SetupScript LoadScript(const char* path) {
  std::string text;
  if (!ReadProfileText(path, text)) text.clear();
  return SetupScript(std::move(text));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* args = ArgumentText(GetCommandLineA());
  char* end = nullptr;
  const int code = static_cast<int>(std::strtol(args, &end, 10));
  while (*end == ' ') ++end;
  if (std::strncmp(end, "builder ", 8) == 0) return -1;
  const bool silent = std::strncmp(end, "silent ", 7) == 0;
  const char* space = std::strchr(end, ' ');
  const char* path = space != nullptr ? space + 1 : "";
  return ReportFatal(Fail(code, "probe"), LoadScript(path), path, silent);
}
