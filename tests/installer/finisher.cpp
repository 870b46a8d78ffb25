// finisher.exe: the finishing command of the installer tests. Appends its own path, its command line
// and its current directory to finisher.log in the current directory, then exits with the status
// written in finisher-exit.txt there (0 when there is none), so one program plays every outcome. It
// first sleeps the milliseconds written in finisher-sleep.txt, when there is one (a slow command).
// Before it exits it copies every file of its own folder, with its times, into finisher-seen\ in
// the current directory: a failed install removes what it extracted, and the tests still look at it.
// It makes its own folder its current directory and goes back first (status 9 when it cannot).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  unsigned long sleep = 0;
  if (FILE* slow = std::fopen("finisher-sleep.txt", "r")) {
    if (std::fscanf(slow, "%lu", &sleep) != 1) sleep = 0;
    std::fclose(slow);
  }
  Sleep(sleep);
  char own[MAX_PATH] = {};
  char directory[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own, sizeof own);
  GetCurrentDirectoryA(sizeof directory, directory);
  if (FILE* log = std::fopen("finisher.log", "ab")) {
    std::fprintf(log, "module=%s\ncommand=%s\ncwd=%s\n", own, GetCommandLineA(), directory);
    std::fclose(log);
  }
  char folder[MAX_PATH] = {};
  lstrcpynA(folder, own, sizeof folder);
  if (char* slash = std::strrchr(folder, '\\')) *slash = '\0';
  // Its own folder as the current directory for a moment, as setup programs and scripts do ("cd /d
  // %~dp0"): the installer holds that folder open, and must still let it. Status 9 when it cannot.
  if (!SetCurrentDirectoryA(folder) || !SetCurrentDirectoryA(directory)) return 9;
  CreateDirectoryA("finisher-seen", nullptr);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((std::string(folder) + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CopyFileA((std::string(folder) + "\\" + found.cFileName).c_str(),
                  (std::string("finisher-seen\\") + found.cFileName).c_str(), FALSE);
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  unsigned long status = 0;
  if (FILE* wanted = std::fopen("finisher-exit.txt", "r")) {
    if (std::fscanf(wanted, "%lu", &status) != 1) status = 0;
    std::fclose(wanted);
  }
  return static_cast<int>(status);
}
