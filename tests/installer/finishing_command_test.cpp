// The finishing command line: how the program path is quoted and when it is refused.
#include <gtest/gtest.h>

#include <string>

#include "installer/payload.h"

namespace {

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
