// The Windows process entry: hands the argument text of the command line to Main, whose result
// becomes the exit status.
#include <windows.h>

#include "app/main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return Main(instance, ArgumentText(GetCommandLineA()));
}
