// hostile.exe: what another process tries to make the installer run. Leaves hostile-ran.txt in its
// current directory, so a test sees that it ran. It carries the finisher's version block, so that only
// the comparison with the package tells it from the program that was extracted.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (FILE* mark = std::fopen("hostile-ran.txt", "wb")) std::fclose(mark);
  return 0;
}
