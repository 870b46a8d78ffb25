// Private folders and locked files with the Windows calls: the extraction folder's own access list,
// exclusive creation, and share modes that keep other writers out.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <cstring>

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

Status OpenForAppend(const char* path, File& file) {
  // Append access alone: every write lands at the end, also when two installers write at once.
  return OpenWide(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, file);
}

}  // namespace platform
