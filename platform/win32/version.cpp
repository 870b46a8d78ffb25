// The fixed file version through version.dll. The DLL is loaded by its full path in the system
// directory, never by its bare name: a bare name would first be looked for next to the executable,
// and a packing list's folder may hold anything (DLL planting).
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

using SizeFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using InfoFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

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
  char systemPath[kPathCapacity];
  std::wstring dllPath, filePath;
  if (!SystemDirectory(systemPath) || !Widen(systemPath, dllPath) || !Widen(path, filePath)) {
    return VersionBlock::None;
  }
  dllPath += L"\\version.dll";
  Library version;
  version.module = LoadLibraryW(dllPath.c_str());
  if (version.module == nullptr) return VersionBlock::None;
  const auto getSize = Procedure<SizeFunction>(version.module, "GetFileVersionInfoSizeW");
  const auto getInfo = Procedure<InfoFunction>(version.module, "GetFileVersionInfoW");
  const auto query = Procedure<QueryFunction>(version.module, "VerQueryValueW");
  if (getSize == nullptr || getInfo == nullptr || query == nullptr) return VersionBlock::None;

  DWORD ignored = 0;
  const DWORD size = getSize(filePath.c_str(), &ignored);
  if (size == 0) return VersionBlock::None;
  // A buffer of the size asked for: a fixed 4096 bytes would be overrun by a larger block.
  std::vector<char> block(size, 0);
  if (!getInfo(filePath.c_str(), 0, size, block.data())) return VersionBlock::None;
  void* value = nullptr;
  UINT valueSize = 0;
  if (!query(block.data(), L"\\", &value, &valueSize) || value == nullptr || valueSize < kFixedInfoSize) {
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
