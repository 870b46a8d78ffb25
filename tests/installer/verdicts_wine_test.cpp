// The verdict table under Wine: each script through the real builder (/m) and, in a package composed
// around it, through the silent installer (/h). A refused script is refused by both, the builder with
// its reason in the log and no package, the installer with -1 and no payload file written; a good
// one builds and installs.
// Usage: installer_verdicts --stub=EXE --finisher=EXE
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/installer/test_package.h"
#include "tests/installer/wine_helpers.h"
#include "tests/script/verdict_cases.h"

namespace {

using namespace wine_test;

std::string stubPath;
std::string finisherPath;
constexpr DWORD kFailed = 0xFFFFFFFFu;

TEST(Verdicts, BuilderAndInstallerAgree) {
  const std::string work = FullPath("verdicts.work");
  CreateDirectoryA(work.c_str(), nullptr);
  const testpkg::Bytes stub = ReadBytes(stubPath);
  const testpkg::Bytes finisher = ReadBytes(finisherPath);
  const std::string temp = TempDirectory();

  for (const verdicts::Case& c : verdicts::Cases()) {
    SCOPED_TRACE(c.name);
    const bool accepted = c.reason[0] == '\0';
    const auto source = [&work](std::size_t i) { return work + "\\s" + std::to_string(i); };
    const std::string script = verdicts::Script(c, source);
    std::vector<testpkg::Piece> files;
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      files.push_back({verdicts::EntryBytes(c, i, finisher), 1});
      WriteBytes(source(i), files.back().data);
    }

    WriteBytes(work + "\\list.ini", testpkg::ToBytes(script + "[In]\r\nQorFileName=" + stubPath + "\r\n"));
    DeleteFileA((work + "\\verdict.exe").c_str());
    const DWORD built = RunProgram("\"" + stubPath + "\" /m list.ini", work);
    EXPECT_EQ(built, accepted ? 0u : kFailed);
    EXPECT_EQ(ReadText(work + "\\logfile.txt"), accepted ? std::string() : verdicts::BuildLogLine(c));
    EXPECT_EQ(GetFileAttributesA((work + "\\verdict.exe").c_str()) != INVALID_FILE_ATTRIBUTES, accepted);

    const std::string package = work + "\\carried.exe";
    WriteBytes(package, testpkg::Compose(stub, {testpkg::ToBytes(script), 1}, files));
    const auto before = Snapshot(temp);
    EXPECT_EQ(RunProgram("\"" + package + "\" /h", work), accepted ? 0u : kFailed);
    // A refused script leaves its failure line and nothing else: its private folder goes, as after
    // every failure, and no payload file is written anywhere.
    if (!accepted) {
      for (const std::string& name : Snapshot(temp)) {
        if (before.count(name) != 0 || name == "QorEngineUpdate.log") continue;
        const std::size_t separator = name.find('\\');
        const std::string folder = name.substr(0, separator);
        EXPECT_TRUE(folder.size() == 19 && folder.rfind("Qor", 0) == 0 &&
                    (separator == std::string::npos || name.substr(separator + 1) == "SetupQor.ini"))
            << "a refused script left " << name;
        // The temporary folder (the test's own) is left as the case found it: the next case sees
        // only what it leaves itself.
        if (separator != std::string::npos) {
          DeleteFileA((temp + name).c_str());
          RemoveDirectoryA((temp + folder).c_str());
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    TakePathOption(argument, "stub", stubPath);
    TakePathOption(argument, "finisher", finisherPath);
  }
  return RUN_ALL_TESTS();
}
