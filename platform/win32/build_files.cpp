// What a path names, file identities and whole-file replacement with the Windows wide calls.
#include <windows.h>
// After windows.h: RtlGenRandom (advapi32's SystemFunction036) needs its types.
#include <ntsecapi.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr int kNameAttempts = 16;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

unsigned long long RandomNumber() {
  unsigned long long value = 0;
  if (RtlGenRandom(&value, sizeof value)) return value;
  // Without the system's generator the name is less secret, but the exclusive create still keeps
  // any file that happens to hold it.
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<unsigned long long>(counter.QuadPart) ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
         GetTickCount();
}

// The target's folder with its separator ("out\", "C:", or "" for the current folder).
std::string FolderPrefix(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) return path.substr(0, slash + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return std::string();
}

}  // namespace

FileKind KindOfFile(const char* path) {
  // Attributes, not a directory search: a search reads "*" and "?" (and "<", ">", """) as wildcards
  // and would report a file for a name that no file has.
  std::wstring wide;
  if (!Widen(path, wide)) return FileKind::Missing;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::Folder;
  // Devices ("nul", "com1") report plain attributes; only the handle's type tells them apart. No
  // access is asked, so nothing is read from the device.
  HANDLE h = CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FileKind::Regular;  // there, but closed to us: the read will tell
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
}

bool IdentifyFile(const char* path, FileIdentity& identity) {
  // Backup semantics let the call open folders too; no access is asked.
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

std::string SystemPath(const char* path) { return path; }

bool IsReadOnly(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

Status OpenRegularFile(const char* path, File& file) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Status::Error(kErrorNotAFile);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return Status::Error(kErrorNotAFile);
  }
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

Status Replacement::Begin(const char* target, bool) {
  Abandon();
  target_ = target;
  const std::string folder = FolderPrefix(target_);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "~qor%016llx.tmp", RandomNumber());
    const std::string candidate = folder + name;
    std::wstring wide;
    if (!PathFits(candidate)) return Status::Error(kErrorNameTooLong);
    if (!Widen(candidate, wide)) return false;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    temporary_ = candidate;
    file.Adopt(reinterpret_cast<std::intptr_t>(h));
    return true;
  }
  return Status::Error(ERROR_FILE_EXISTS);
}

Status Replacement::Commit() {
  if (temporary_.empty() || !file.IsOpen()) return Status::Error(ERROR_INVALID_HANDLE);
  Status done = FlushFileBuffers(reinterpret_cast<HANDLE>(file.Handle())) != FALSE;
  file.Close();
  std::wstring from, to;
  if (done) done = Widen(temporary_, from) && Widen(target_, to);
  if (done) done = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!done) {
    Abandon();
    return done;
  }
  temporary_.clear();
  return true;
}

void Replacement::Abandon() {
  file.Close();
  std::wstring wide;
  if (!temporary_.empty() && Widen(temporary_, wide)) DeleteFileW(wide.c_str());
  temporary_.clear();
}

}  // namespace platform
