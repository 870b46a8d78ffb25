// idle_finisher.exe: the finishing command of the install benchmarks. It does nothing and exits 0,
// so that an install's time is the installer's own: the test finisher copies every extracted file
// for the tests to look at, which on a benchmark's payload took longer than the extraction.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
