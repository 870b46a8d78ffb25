// The private folder's descriptor as the code builds it, read back by the system as SDDL: for a plain
// user, an elevated administrator and SYSTEM. (Wine keeps only part of a file's access list once it is
// set, so the descriptor is read before it reaches a folder.)
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/folder_access.h"

namespace {

// The SDDL of everything a folder's descriptor may carry (this Wine writes the label out only as part
// of the system access list).
std::string AsSddl(PSECURITY_DESCRIPTOR descriptor) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
              SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return "?";
  }
  const std::string sddl = text;
  LocalFree(text);
  return sddl;
}

TEST(FolderAccess, TheDescriptorFollowsTheToken) {
  const char* const kUser = "S-1-5-21-1-2-3-1001";
  // Read and execute: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, which has no SDDL name of its own.
  const std::string kLocked = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  // A High label with no-write-up, inherited by files and folders. Wine (8 and 10) has no name for the
  // label entry's type, writes its no-write-up bit under a directory-service name and marks the list
  // protected, which it is not (checked below): the same entry, in its spelling.
  const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  const std::string kLabel = wine ? "S:P(;OICI;CC;;;HI)" : "S:(ML;OICI;NW;;;HI)";
  const struct {
    const char* who;
    bool elevated, system;
    const char* user;
    std::string sddl;
  } cases[] = {
      {"a plain user", false, false, kUser, "D:P(A;OICI;FA;;;" + std::string(kUser) + ")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"},
      {"an elevated administrator", true, false, kUser,
       kLocked + "(A;OICI;0x1200a9;;;" + kUser + ")" + kLabel},
      {"SYSTEM", false, true, "S-1-5-18", kLocked + kLabel},
      {"SYSTEM, elevated", true, true, "S-1-5-18", kLocked + kLabel},
  };
  for (const auto& c : cases) {
    PSID user = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA(c.user, &user)) << c.who;
    platform::FolderDescriptor descriptor;
    EXPECT_TRUE(descriptor.Build(platform::ChooseFolderGuard(c.elevated, c.system), user)) << c.who;
    LocalFree(user);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor.Get())) << c.who;
    EXPECT_EQ(AsSddl(descriptor.Get()), c.sddl) << c.who;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_EQ(control & (SE_DACL_PROTECTED | SE_SACL_PROTECTED), SE_DACL_PROTECTED) << c.who;
  }
}

}  // namespace
