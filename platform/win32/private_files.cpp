// Private folders and locked files with the Windows calls: the extraction folder's own access list,
// exclusive creation, and share modes that keep other writers out.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

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

bool Adopt(HANDLE h, File& file) {
  if (h == INVALID_HANDLE_VALUE) return false;
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

}  // namespace

bool RandomBytes(void* buffer, std::uint32_t size) { return RtlGenRandom(buffer, size) != FALSE; }

bool CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]) {
  PrivateAccess access;
  if (!access.Build()) return false;
  SECURITY_ATTRIBUTES attributes = access.Attributes();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    unsigned char random[8];
    if (!RandomBytes(random, sizeof random)) return false;
    char name[24];
    std::snprintf(name, sizeof name, "Qor%02X%02X%02X%02X%02X%02X%02X%02X", random[0], random[1], random[2],
                  random[3], random[4], random[5], random[6], random[7]);
    const std::size_t length = std::strlen(parent) + std::strlen(name) + 1;
    if (length >= kPathCapacity) return false;
    std::snprintf(path, kPathCapacity, "%s%s", parent, name);
    // CreateDirectory never opens an existing folder: a name taken by anyone else fails here.
    if (CreateDirectoryA(path, &attributes)) {
      std::strcat(path, "\\");
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool MakeDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return true;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

bool CreateFileExact(const char* path, bool exclusive, File& file) {
  return Adopt(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, exclusive ? CREATE_NEW : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr),
               file);
}

bool OpenLockedForReading(const char* path, File& file) {
  // Sharing reading only: while this handle is open, no other open for writing or deleting (which
  // renaming needs) succeeds, and one that is already open makes this call fail. Starting the file
  // as a program opens it for reading and executing, which this sharing allows.
  return Adopt(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
               file);
}

bool OpenForAppend(const char* path, File& file) {
  // Append access alone: every write lands at the end, also when two installers write at once.
  return Adopt(CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
               file);
}

}  // namespace platform
