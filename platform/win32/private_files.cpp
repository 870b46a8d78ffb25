// Private folders and locked files with the Windows calls: the extraction folder's own access list,
// exclusive creation, and share modes that keep other writers out.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr int kNameAttempts = 16;

// An access list of three entries, inherited by everything created below: full access for the
// token's user, the Administrators and SYSTEM. Nobody else gets anything.
class PrivateAccess {
 public:
  bool Build() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, user_, sizeof user_, &size);
    CloseHandle(token);
    if (!ok) return false;
    DWORD adminsSize = sizeof admins_, systemSize = sizeof system_;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &adminsSize) ||
        !CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize)) {
      return false;
    }
    PSID sids[] = {reinterpret_cast<TOKEN_USER*>(user_)->User.Sid, admins_, system_};
    if (!InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION)) return false;
    for (PSID sid : sids) {
      if (!AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl_), ACL_REVISION,
                                 OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid)) {
        return false;
      }
    }
    // Protected: the temporary directory's own entries (a shared one may grant Everyone) are not
    // inherited.
    return InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) &&
           SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  SECURITY_ATTRIBUTES Attributes() { return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE}; }

 private:
  // TOKEN_USER is followed by its SID; the largest SID is 68 bytes.
  alignas(8) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE acl_[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
};

}  // namespace

Status RandomBytes(void* buffer, std::uint32_t size) { return RtlGenRandom(buffer, size) != FALSE; }

Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]) {
  PrivateAccess access;
  if (!access.Build()) return false;
  SECURITY_ATTRIBUTES attributes = access.Attributes();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    if (!PrivateFolderName(name)) return false;
    const std::string folder = parent + name;
    std::wstring wide;
    if (!PathFits(folder + "\\")) return Status::Error(kErrorNameTooLong);
    if (!Widen(folder, wide)) return false;
    // CreateDirectory never opens an existing folder: a name taken by anyone else fails here.
    if (CreateDirectoryW(wide.c_str(), &attributes)) {
      std::snprintf(path, kPathCapacity, "%s\\", folder.c_str());
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return Status::Error(ERROR_ALREADY_EXISTS);
}

Status MakeDirectory(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  const Status failed = false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  return failed;
}

Status RemoveFolder(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  return RemoveDirectoryW(wide.c_str()) != FALSE;
}

Status CreateFileExact(const char* path, bool exclusive, File& file) {
  return OpenWide(path, GENERIC_READ | GENERIC_WRITE, 0, exclusive ? CREATE_NEW : CREATE_ALWAYS, file);
}

Status OpenLockedForReading(const char* path, File& file) {
  // Sharing reading only: while this handle is open, no other open for writing or deleting (which
  // renaming needs) succeeds, and one that is already open makes this call fail. Starting the file
  // as a program opens it for reading and executing, which this sharing allows.
  return OpenWide(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file);
}

Status OpenRecord(const char* path, RecordMode mode, File& file) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  // Append access alone makes every write land at the end, also when two installers write at once.
  const bool append = mode == RecordMode::Append;
  const DWORD access = (append ? FILE_APPEND_DATA | SYNCHRONIZE : GENERIC_WRITE) | FILE_READ_ATTRIBUTES;
  const DWORD share = append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  // An existing name is opened as itself: FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction, not
  // what it points at, and the checks below refuse it. A free name is created with CREATE_NEW, which
  // fails on a dangling link instead of creating its target. (Wine shows a Unix symbolic link as the
  // file it points at, with no reparse attribute; there only a dangling one and a hard link are
  // caught.)
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(wide.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) return Status::Error(kErrorLink);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  // A pipe or a device (a monitoring tool's pipe, NUL) has no name of its own to follow or share:
  // it takes the lines as they come.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    file.Adopt(reinterpret_cast<std::intptr_t>(h));
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  Status checked = GetFileInformationByHandle(h, &info) != FALSE;
  if (checked && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) checked = Status::Error(kErrorNotAFile);
  if (checked && ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1)) {
    checked = Status::Error(kErrorLink);
  }
  if (checked && !append) checked = SetEndOfFile(h) != FALSE;
  if (!checked) {
    CloseHandle(h);
    return checked;
  }
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Deletes the file of the open handle `h` (opened with DELETE access): the name it was opened by
// goes, whatever is put at that name later.
Status DeleteByHandle(HANDLE h) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// The final path of an open file or folder, every link resolved; empty when the system cannot say.
std::wstring FinalPath(HANDLE h) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = GetFinalPathNameByHandleW(h, path, MAX_PATH * 2, FILE_NAME_NORMALIZED);
  return length != 0 && length < MAX_PATH * 2 ? std::wstring(path, length) : std::wstring();
}

}  // namespace

Status IdentifyOpenFile(File& file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.Handle()), &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

Status RemoveFileIfSame(const char* path, const FileIdentity& identity) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  // The name is opened itself (a link or junction put there is not followed), compared with the
  // file this run created, and deleted through the same handle: nothing can come between the
  // comparison and the delete.
  HANDLE h = CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  Status done = GetFileInformationByHandle(h, &info) != FALSE;
  if (done && (info.dwVolumeSerialNumber != identity.volume ||
               ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) != identity.index)) {
    done = Status::Error(kErrorLink);
  }
  if (done) done = DeleteByHandle(h);
  CloseHandle(h);
  return done;
}

Status CreateLiveMark(const char* path, File& mark) {
  // Shared for reading only: a later run that asks for delete access to see whether the mark is
  // still held gets a sharing violation until this process ends, however it ends.
  return OpenWide(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, mark);
}

bool IsLiveMarkHeld(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return true;
  HANDLE h = CreateFileW(wide.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

Status ListFolder(const char* path, std::vector<std::string>& names) {
  names.clear();
  std::wstring wide;
  if (!Widen(std::string(path) + "\\*", wide)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(Narrow(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

Status RemoveStaleFolder(const char* path) {
  std::string folder = path;
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  std::wstring wide;
  if (!Widen(folder, wide)) return false;
  // The folder is held without delete sharing while its entries go, so that it cannot be renamed
  // and replaced by a junction meanwhile; each entry is opened itself (no link followed) and
  // deleted only when its final path lies in the held folder's, so that a swapped parent cannot
  // send a delete elsewhere.
  HANDLE held = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (held == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(held, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(held);
    return Status::Error(kErrorLink);
  }
  const std::wstring heldPath = FinalPath(held);
  std::vector<std::string> names;
  ListFolder(folder.c_str(), names);
  for (const std::string& name : names) {
    std::wstring entry;
    if (heldPath.empty() || !Widen(folder + "\\" + name, entry)) continue;
    HANDLE h = CreateFileW(entry.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    const std::wstring entryPath = FinalPath(h);
    if (entryPath.size() > heldPath.size() && entryPath.compare(0, heldPath.size(), heldPath) == 0 &&
        entryPath[heldPath.size()] == L'\\') {
      DeleteByHandle(h);  // a subfolder goes only when it is empty
    }
    CloseHandle(h);
  }
  CloseHandle(held);
  return RemoveDirectoryW(wide.c_str()) != FALSE;
}

}  // namespace platform
