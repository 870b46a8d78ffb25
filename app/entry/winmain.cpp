// The Windows process entry (kept out of the core library, which test programs with entries of
// their own link too): hands the argument text of the command line to Main, whose result
// becomes the exit status.
#include <windows.h>

#include <cwchar>
#include <string>

#include "app/main.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: the package usually runs from a downloads folder.
  platform::RestrictDllSearch();
  // The wide command line: the ANSI one shows "?" for every character of a path that the ANSI code
  // page lacks, and such a path names no file.
  const wchar_t* wide = GetCommandLineW();
  const std::string commandLine = platform::Narrow(wide, std::wcslen(wide));
  return Main(instance, ArgumentText(commandLine.c_str()));
}
