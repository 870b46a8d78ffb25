// The token operations and the restart sequence under Wine, where the user is a member of the
// Administrators group and a restart request ends only the windowed programs of the test's prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "installer/installer.h"
#include "installer/privileges.h"

namespace {

bool ShutdownPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID shutdown;
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown);
  char buffer[4096];
  DWORD size = 0;
  bool enabled = false;
  if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID& id = privileges->Privileges[i].Luid;
      if (id.LowPart == shutdown.LowPart && id.HighPart == shutdown.HighPart) {
        enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
      }
    }
  }
  CloseHandle(token);
  return enabled;
}

TEST(Privileges, TheWineUserIsAnAdministratorOnTheNtFamily) {
  EXPECT_EQ(IsAdministrator(), 1);
  EXPECT_TRUE(IsNtFamily());
}

// Yes to the restart question: the privilege is switched on, the files this run created go and then
// its extraction folder, the request is made.
TEST(Privileges, RestartSequence) {
  char temp[platform::kPathCapacity], directory[platform::kPathCapacity];
  ASSERT_TRUE(platform::TempDirectory(temp));
  InstallSession session;
  ASSERT_TRUE(platform::CreatePrivateDirectory(temp, directory, session.folder));
  ASSERT_TRUE(platform::IdentifyOpenFile(session.folder, session.folderIdentity));
  const std::string folder = directory;
  const std::string script = folder + "SetupQor.ini";
  const std::string payload = folder + "restart-test.txt";
  const char kScript[] = "[Files]\r\nFile01=restart-test.txt,src\r\n";
  std::ofstream(script) << kScript;
  std::ofstream(payload) << "x";

  session.directory = folder;
  session.scriptPath = script;
  session.script = SetupScript(kScript);
  for (const std::string& path : {script, payload}) {
    CreatedFile created{path, {}};
    ASSERT_TRUE(platform::IdentifyFile(path.c_str(), created.identity));
    session.created.push_back(created);
  }
  RestartSequence(session);
  EXPECT_TRUE(ShutdownPrivilegeEnabled());
  EXPECT_EQ(GetFileAttributesA(payload.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(script.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
