// The finishing command line: how each kind of program is started, how its paths are quoted, and
// when it is refused; and which exit statuses mean done.
#include <gtest/gtest.h>

#include <string>

#include "installer/payload.h"
#include "script/payload_list.h"

namespace {

// FileName as the plan splits it, for a program of `kind`.
PlannedCommand Command(const std::string& fileName, ProgramKind kind = ProgramKind::Executable) {
  PlannedCommand command;
  command.text = fileName;
  command.kind = kind;
  EXPECT_TRUE(SplitFinishingCommand(fileName, command.program, command.arguments)) << fileName;
  return command;
}

// The command line of `fileName` from `directory`, with C:\Windows\system32 as the system folder.
std::string Line(const std::string& directory, const std::string& fileName, ProgramKind kind = ProgramKind::Executable) {
  FinishingCommand finishing;
  EXPECT_TRUE(FinishingCommandLine(directory, "C:\\Windows\\system32", Command(fileName, kind), finishing)) << fileName;
  return finishing.commandLine;
}

TEST(FinishingCommand, ProgramPathQuotedArgumentsUnchanged) {
  EXPECT_EQ(Line("C:\\Documents and Settings\\u\\Temp\\", "setup.exe /q  /x"),
            "\"C:\\Documents and Settings\\u\\Temp\\setup.exe\" /q  /x");
  EXPECT_EQ(Line("C:\\T\\", "setup.exe"), "\"C:\\T\\setup.exe\"");
  EXPECT_EQ(Line("C:\\T\\", "\"my setup.exe\" /q \"a b\""), "\"C:\\T\\my setup.exe\" /q \"a b\"");
  EXPECT_EQ(Line("C:\\T\\", "setup.exe\t/q"), "\"C:\\T\\setup.exe\"\t/q");
}

// Each kind: the program the system starts (by its full path, never a search), its command line, and
// for a command script the path that cmd.exe reads from the variable. Paths with blanks and the
// characters cmd.exe gives a meaning to stay inside quotes (or, for a script, inside the variable).
TEST(FinishingCommand, EachKindStartsItsOwnProgram) {
  const struct {
    const char* directory;
    const char* fileName;
    ProgramKind kind;
    const char* program;
    const char* line;
    const char* script;
  } cases[] = {
      {"C:\\T\\", "setup.exe /q", ProgramKind::Executable, "C:\\T\\setup.exe", "\"C:\\T\\setup.exe\" /q", ""},
      {"C:\\T\\", "tool.com", ProgramKind::Executable, "C:\\T\\tool.com", "\"C:\\T\\tool.com\"", ""},
      {"C:\\A B\\", "product.msi /qn REBOOT=ReallySuppress", ProgramKind::InstallerPackage,
       "C:\\Windows\\system32\\msiexec.exe",
       "\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\A B\\product.msi\" /qn REBOOT=ReallySuppress", ""},
      {"C:\\T\\", "\"my product.MSI\"", ProgramKind::InstallerPackage, "C:\\Windows\\system32\\msiexec.exe",
       "\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\T\\my product.MSI\"", ""},
      {"C:\\T\\", "install.cmd", ProgramKind::CommandScript, "C:\\Windows\\system32\\cmd.exe",
       "\"C:\\Windows\\system32\\cmd.exe\" /d /v:off /s /c \"\"%QOR_COMMAND_SCRIPT%\"\"", "C:\\T\\install.cmd"},
      {"C:\\a b&c(d)^e!f%PATH%g\\", "\"in st.bat\" one \"two three\"", ProgramKind::CommandScript,
       "C:\\Windows\\system32\\cmd.exe",
       "\"C:\\Windows\\system32\\cmd.exe\" /d /v:off /s /c \"\"%QOR_COMMAND_SCRIPT%\" one \"two three\"\"",
       "C:\\a b&c(d)^e!f%PATH%g\\in st.bat"},
  };
  for (const auto& c : cases) {
    FinishingCommand finishing;
    ASSERT_TRUE(FinishingCommandLine(c.directory, "C:\\Windows\\system32", Command(c.fileName, c.kind), finishing))
        << c.fileName;
    EXPECT_EQ(finishing.program, c.program) << c.fileName;
    EXPECT_EQ(finishing.commandLine, c.line) << c.fileName;
    EXPECT_EQ(finishing.script, c.script) << c.fileName;
  }
}

TEST(FinishingCommand, RefusedWhenThereIsNoProgramOrItsPathIsTooLong) {
  std::string program, arguments;
  EXPECT_FALSE(SplitFinishingCommand(" setup.exe", program, arguments));
  EXPECT_FALSE(SplitFinishingCommand("\"setup.exe /q", program, arguments));
  FinishingCommand finishing;
  const std::string directory = "C:\\" + std::string(246, 'd') + "\\";
  EXPECT_TRUE(FinishingCommandLine(directory, "C:\\W", Command("setup.exe"), finishing));     // 259 characters
  EXPECT_FALSE(FinishingCommandLine(directory, "C:\\W", Command("setup1.exe"), finishing));   // 260
  EXPECT_FALSE(FinishingCommandLine(directory, "C:\\W", Command("setup1.msi", ProgramKind::InstallerPackage), finishing));
  // Long arguments are no reason to refuse: only the paths have a fixed size.
  EXPECT_TRUE(FinishingCommandLine("C:\\T\\", "C:\\W", Command("setup.exe " + std::string(300, 'a')), finishing));
}

TEST(FinishingCommand, DoneIsZeroOrARestart) {
  for (const std::uint32_t done : {0u, 3010u, 1641u}) EXPECT_FALSE(JudgeCommandStatus(done)) << done;
  for (const std::uint32_t failed : {1u, 259u, 1602u, 1603u, 1618u, 3011u, 0xFFFFFFFFu}) {
    const Failure failure = JudgeCommandStatus(failed);
    EXPECT_EQ(failure.code, kFatalCommand);
    EXPECT_EQ(failure.reason, "the finishing command ended with status " +
                                  std::to_string(static_cast<std::int32_t>(failed)));
  }
}

}  // namespace
