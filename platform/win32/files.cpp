// Files, times and directories with the Windows wide calls.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

HANDLE H(File& file) { return reinterpret_cast<HANDLE>(file.Handle()); }

// A system answer of `length` units in `wide` (of `capacity` units) copied out as a path; false when
// the call failed or the answer does not fit.
Status CopyOut(const wchar_t* wide, DWORD length, DWORD capacity, char (&buffer)[kPathCapacity]) {
  std::string path;
  if (length == 0) return false;
  if (!PathFromSystem(wide, length, capacity, path)) return Status::Error(kErrorNameTooLong);
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

void File::Close() {
  if (handle_ != kInvalid) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kInvalid;
  }
}

Status OpenFile(const char* path, OpenMode mode, File& file) {
  DWORD access = GENERIC_READ, share = 0, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::ReadShared: share = FILE_SHARE_READ; break;
    case OpenMode::ReadWrite: access |= GENERIC_WRITE; break;
    case OpenMode::CreateAlways: access |= GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
  }
  return OpenWide(path, access, share, disposition, file);
}

Status ReadFile(File& file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  DWORD read = 0;
  const Status ok = ::ReadFile(H(file), buffer, size, &read, nullptr) != FALSE;
  got = read;
  return ok;
}

Status WriteFile(File& file, const void* buffer, std::uint32_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(H(file), p, size, &written, nullptr)) return false;
    // A write that does nothing and reports no error: the disk is full.
    if (written == 0) return Status::Error(ERROR_DISK_FULL);
    p += written;
    size -= written;
  }
  return true;
}

Status Seek(File& file, std::uint32_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(H(file), distance, nullptr, FILE_BEGIN) != FALSE;
}

Status SeekEnd(File& file, std::uint32_t& length) {
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(H(file), zero, &end, FILE_END)) return false;
  if (end.QuadPart > 0xFFFFFFFFll) return Status::Error(kErrorTooLarge);
  length = static_cast<std::uint32_t>(end.QuadPart);
  return true;
}

Status GetLastWriteTime(File& file, std::uint64_t& fileTime) {
  FILETIME created, accessed, written;
  if (!GetFileTime(H(file), &created, &accessed, &written)) return false;
  fileTime = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return true;
}

Status SetFileTimes(File& file, std::uint64_t fileTime) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(fileTime);
  t.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  return SetFileTime(H(file), &t, &t, &t) != FALSE;
}

Status Truncate(File& file, std::uint32_t length) {
  if (const Status moved = Seek(file, length); !moved) return moved;
  return SetEndOfFile(H(file)) != FALSE;
}

bool FileExists(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

Status SetNormalAttributes(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  return SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

Status RemoveFile(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  return DeleteFileW(wide.c_str()) != FALSE;
}

Status TempDirectory(char (&buffer)[kPathCapacity]) {
  wchar_t wide[MAX_PATH + 1];
  return CopyOut(wide, GetTempPathW(MAX_PATH + 1, wide), MAX_PATH + 1, buffer);
}

Status SystemDirectory(char (&buffer)[kPathCapacity]) {
  wchar_t wide[MAX_PATH];
  return CopyOut(wide, GetSystemDirectoryW(wide, MAX_PATH), MAX_PATH, buffer);
}

Status CurrentDirectory(char (&buffer)[kPathCapacity]) {
  wchar_t wide[MAX_PATH];
  return CopyOut(wide, GetCurrentDirectoryW(MAX_PATH, wide), MAX_PATH, buffer);
}

Status GetOwnPath(char (&buffer)[kPathCapacity]) {
  // GetModuleFileNameW cuts a long path and still reports success with the full count.
  wchar_t wide[MAX_PATH];
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetModuleFileNameW(nullptr, wide, MAX_PATH);
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return Status::Error(kErrorNameTooLong);
  return CopyOut(wide, length, MAX_PATH, buffer);
}

}  // namespace platform
