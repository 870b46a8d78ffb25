/* The finishing command of the example package: the installer runs "hello.exe /quiet" from its
   extraction folder once every file is unpacked. A real product's setup program would put its
   files into place here; this one ends with 0 ("done"), or with the number given as
   "/exit N", so that a pipeline can try how it reads an install's status. A GUI program: no
   console window opens when the installer starts it. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  const char* exit = strstr(commandLine, "/exit ");
  return exit != NULL ? atoi(exit + 6) : 0;
}
