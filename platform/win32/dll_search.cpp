// RestrictDllSearch: no DLL from the executable's own folder.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

void RestrictDllSearch() {
  // The system-directory-only search exists from Vista on (and on 7 with its update); looked up at
  // run time, so that the executable still starts on the 9x family and older NT.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  // Takes the current directory out of the search on older systems (XP SP1 on); the application
  // directory stays there, which is why version.dll is loaded by its full system path.
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
  const auto setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (setDirectory != nullptr) setDirectory("");
}

}  // namespace platform
