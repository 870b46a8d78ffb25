// Files, times and directories with the Windows ANSI calls.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

HANDLE H(File& file) { return reinterpret_cast<HANDLE>(file.Handle()); }

// Copies a system answer of `length` characters into a kPathCapacity buffer, refusing answers that
// the call could not complete (0) or that would not fit with a terminator.
bool Fits(DWORD length, DWORD capacity) { return length != 0 && length < capacity; }

}  // namespace

void File::Close() {
  if (handle_ != kInvalid) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kInvalid;
  }
}

bool OpenFile(const char* path, OpenMode mode, File& file) {
  DWORD access = GENERIC_READ, share = 0, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::ReadShared: share = FILE_SHARE_READ; break;
    case OpenMode::ReadWrite: access |= GENERIC_WRITE; break;
    case OpenMode::CreateAlways: access |= GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
  }
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

bool ReadFile(File& file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  DWORD read = 0;
  const BOOL ok = ::ReadFile(H(file), buffer, size, &read, nullptr);
  got = read;
  return ok != FALSE;
}

bool WriteFile(File& file, const void* buffer, std::uint32_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(H(file), p, size, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool Seek(File& file, std::uint32_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(H(file), distance, nullptr, FILE_BEGIN) != FALSE;
}

bool SeekEnd(File& file, std::uint32_t& length) {
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(H(file), zero, &end, FILE_END)) return false;
  if (end.QuadPart > 0xFFFFFFFFll) return false;
  length = static_cast<std::uint32_t>(end.QuadPart);
  return true;
}

bool GetLastWriteTime(File& file, std::uint64_t& fileTime) {
  FILETIME created, accessed, written;
  if (!GetFileTime(H(file), &created, &accessed, &written)) return false;
  fileTime = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return true;
}

bool SetFileTimes(File& file, std::uint64_t fileTime) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(fileTime);
  t.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  return SetFileTime(H(file), &t, &t, &t) != FALSE;
}

bool Truncate(File& file, std::uint32_t length) {
  return Seek(file, length) && SetEndOfFile(H(file)) != FALSE;
}

bool FileExists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool SetNormalAttributes(const char* path) {
  return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool TempDirectory(char (&buffer)[kPathCapacity]) {
  return Fits(GetTempPathA(kPathCapacity, buffer), kPathCapacity);
}

bool SystemDirectory(char (&buffer)[kPathCapacity]) {
  return Fits(GetSystemDirectoryA(buffer, kPathCapacity), kPathCapacity);
}

bool CurrentDirectory(char (&buffer)[kPathCapacity]) {
  return Fits(GetCurrentDirectoryA(kPathCapacity, buffer), kPathCapacity);
}

bool GetOwnPath(char (&buffer)[kPathCapacity]) {
  // GetModuleFileNameA cuts a long path and still reports success with the full count.
  const DWORD length = GetModuleFileNameA(nullptr, buffer, kPathCapacity);
  return Fits(length, kPathCapacity) && GetLastError() != ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace platform
