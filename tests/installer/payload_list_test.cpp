// The payload list's names and the finishing command line: what may be joined to the temporary
// directory, and how the command is quoted.
#include <gtest/gtest.h>

#include <string>

#include "installer/payload.h"
#include "installer/payload_list.h"

namespace {

TEST(PayloadList, NameIsTheTextBeforeTheLastComma) {
  std::string name;
  EXPECT_EQ(EntryName("setup.exe,c:\\build\\setup.exe", name), EntryProblem::None);
  EXPECT_EQ(name, "setup.exe");
  EXPECT_EQ(EntryName("a,b,c", name), EntryProblem::None);
  EXPECT_EQ(name, "a,b");
  EXPECT_EQ(EntryName("my file.dat,", name), EntryProblem::None);
  EXPECT_EQ(name, "my file.dat");
  EXPECT_EQ(EntryName("setup.exe", name), EntryProblem::NoComma);
}

// Anything that would reach outside the temporary directory is refused.
TEST(PayloadList, OnlyPlainFileNames) {
  std::string name;
  for (const char* value : {"..\\x.dll,s", "..,s", ".,s", ",s", "C:x.dll,s", "C:\\x.dll,s", "\\x.dll,s",
                            "sub\\x.dll,s", "sub/x.dll,s", "/etc/x,s", "x.dll:stream,s"}) {
    EXPECT_EQ(EntryName(value, name), EntryProblem::NotPlainName) << value;
    EXPECT_TRUE(name.empty()) << value;
  }
  EXPECT_EQ(EntryName("..x.dll,s", name), EntryProblem::None);  // dots alone are no folder step
}

TEST(FinishingCommand, ProgramPathQuotedArgumentsUnchanged) {
  std::string line;
  ASSERT_TRUE(FinishingCommandLine("C:\\Documents and Settings\\u\\Temp\\", "setup.exe /q  /x", line));
  EXPECT_EQ(line, "\"C:\\Documents and Settings\\u\\Temp\\setup.exe\" /q  /x");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", "setup.exe", line));
  EXPECT_EQ(line, "\"C:\\T\\setup.exe\"");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", "\"my setup.exe\" /q \"a b\"", line));
  EXPECT_EQ(line, "\"C:\\T\\my setup.exe\" /q \"a b\"");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", "setup.exe\t/q", line));
  EXPECT_EQ(line, "\"C:\\T\\setup.exe\"\t/q");
}

TEST(FinishingCommand, RefusedWhenThereIsNoProgramOrItsPathIsTooLong) {
  std::string line;
  EXPECT_FALSE(FinishingCommandLine("C:\\T\\", " setup.exe", line));
  EXPECT_FALSE(FinishingCommandLine("C:\\T\\", "\"setup.exe /q", line));
  const std::string directory = "C:\\" + std::string(246, 'd') + "\\";
  EXPECT_TRUE(FinishingCommandLine(directory.c_str(), "setup.exe", line));     // 259 characters
  EXPECT_FALSE(FinishingCommandLine(directory.c_str(), "setup1.exe", line));   // 260
  // Long arguments are no reason to refuse: only the program path has a fixed buffer.
  EXPECT_TRUE(FinishingCommandLine("C:\\T\\", ("setup.exe " + std::string(300, 'a')).c_str(), line));
}

}  // namespace
