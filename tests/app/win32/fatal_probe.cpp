// fatal_probe.exe CODE MODE SCRIPT: reports failure CODE with the script at SCRIPT as the installer
// (MODE "box") or the silent installer ("silent") does, so the tests can read the real message box
// and the full exit status. MODE "builder" ends as a failed build does: no box, status -1.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main.h"
#include "installer/installer.h"
#include "platform/platform.h"

namespace {

// The script's bytes, or an empty script when the file cannot be read (the fallback box's case).
SetupScript LoadScript(const char* path) {
  std::string text;
  platform::File file;
  std::uint32_t length = 0;
  if (platform::OpenFile(path, platform::OpenMode::ReadShared, file) && platform::SeekEnd(file, length) &&
      platform::Seek(file, 0)) {
    text.resize(length);
    std::uint32_t got = 0;
    if (!platform::ReadFile(file, &text[0], length, got)) got = 0;
    text.resize(got);
  }
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
