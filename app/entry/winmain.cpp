// The Windows process entry (kept out of the core library, which test programs with entries of
// their own link too): hands the argument text of the command line to Main, whose result
// becomes the exit status.
#include <windows.h>

#include "app/main.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: the package usually runs from a downloads folder.
  platform::RestrictDllSearch();
  return Main(instance, ArgumentText(GetCommandLineA()));
}
