// dll_probe.exe: loads version.dll the ways the planting test compares. A console program that
// imports no user32, so nothing loads version.dll before its own code runs.
//   dll_probe                  bare name, default search: falls for a planted DLL (the control)
//   dll_probe restricted       bare name after the installer's start-up restriction
//   dll_probe version FILE     the version check that the installer runs on the first payload file
// A planted DLL ends the process with 77 as soon as it is loaded; otherwise the result is 0.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "restricted") == 0) {
    platform::RestrictDllSearch();
    LoadLibraryA("version.dll");
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "version") == 0) {
    std::uint32_t ms = 0, ls = 0;
    return platform::ReadFixedFileVersion(argv[2], ms, ls) == platform::VersionBlock::Fixed ? 0 : 1;
  }
  LoadLibraryA("version.dll");
  return 0;
}
