// The example package's finishing command: copies readme.txt and license.txt from the folder it runs
// from (the temporary folder, where the package unpacked them) into "C:\Program Files\Qor Example"
// and writes install.log there. Exits 0, or 1 when a file cannot be copied.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  char source[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, source, sizeof source);
  if (length == 0 || length >= sizeof source) return 1;
  char* slash = std::strrchr(source, '\\');
  if (slash == nullptr) return 1;
  slash[1] = '\0';

  char target[MAX_PATH] = "C:\\Program Files\\Qor Example\\";
  CreateDirectoryA(target, nullptr);
  int status = 0;
  char log[1024];
  int used = std::snprintf(log, sizeof log, "example setup started from %s with arguments '%s'\r\n", source,
                           arguments);
  for (const char* name : {"readme.txt", "license.txt"}) {
    char from[MAX_PATH], to[MAX_PATH];
    std::snprintf(from, sizeof from, "%s%s", source, name);
    std::snprintf(to, sizeof to, "%s%s", target, name);
    const bool copied = CopyFileA(from, to, FALSE) != FALSE;
    if (!copied) status = 1;
    used += std::snprintf(log + used, sizeof log - used, "%s %s\r\n", copied ? "copied" : "FAILED to copy", name);
  }
  std::snprintf(log + used, sizeof log - used, "exit status %d\r\n", status);
  std::snprintf(target + std::strlen(target), sizeof target - std::strlen(target), "install.log");
  if (FILE* f = std::fopen(target, "wb")) {
    std::fputs(log, f);
    std::fclose(f);
  }
  return status;
}
