// The fixed file version through version.dll. The DLL is loaded by its full path in the system
// directory, never by its bare name: a bare name would first be looked for next to the executable,
// and a packing list's folder may hold anything (DLL planting).
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

using SizeFunction = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using InfoFunction = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

constexpr UINT kFixedInfoSize = 52;  // VS_FIXEDFILEINFO
constexpr DWORD kFixedInfoSignature = 0xFEEF04BDu;

struct Library {
  HMODULE module = nullptr;
  ~Library() {
    if (module != nullptr) FreeLibrary(module);
  }
};

// GetProcAddress returns a generic function pointer; the cast goes through void* because gcc warns
// about casting between unrelated function types.
template <typename Function>
Function Procedure(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

VersionBlock ReadFixedFileVersion(const char* path, std::uint32_t& versionMS, std::uint32_t& versionLS) {
  char dllPath[kPathCapacity];
  static const char kDll[] = "\\version.dll";
  if (!SystemDirectory(dllPath) || std::strlen(dllPath) + sizeof kDll > sizeof dllPath) {
    return VersionBlock::None;
  }
  std::strcat(dllPath, kDll);
  Library version;
  version.module = LoadLibraryA(dllPath);
  if (version.module == nullptr) return VersionBlock::None;
  const auto getSize = Procedure<SizeFunction>(version.module, "GetFileVersionInfoSizeA");
  const auto getInfo = Procedure<InfoFunction>(version.module, "GetFileVersionInfoA");
  const auto query = Procedure<QueryFunction>(version.module, "VerQueryValueA");
  if (getSize == nullptr || getInfo == nullptr || query == nullptr) return VersionBlock::None;

  DWORD ignored = 0;
  const DWORD size = getSize(path, &ignored);
  if (size == 0) return VersionBlock::None;
  // A buffer of the size asked for: a fixed 4096 bytes would be overrun by a larger block.
  std::vector<char> block(size, 0);
  if (!getInfo(path, 0, size, block.data())) return VersionBlock::None;
  void* value = nullptr;
  UINT valueSize = 0;
  if (!query(block.data(), "\\", &value, &valueSize) || value == nullptr || valueSize < kFixedInfoSize) {
    return VersionBlock::NoFixedPart;
  }
  const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  // The same test the native reader makes, so both hosts agree on every file.
  if (fixed->dwSignature != kFixedInfoSignature) return VersionBlock::NoFixedPart;
  versionMS = fixed->dwFileVersionMS;
  versionLS = fixed->dwFileVersionLS;
  return VersionBlock::Fixed;
}

}  // namespace platform
