// The finishing command line: how the program path is quoted and when it is refused.
#include <gtest/gtest.h>

#include <string>

#include "installer/payload.h"
#include "script/payload_list.h"

namespace {

// FileName as the plan splits it.
PlannedCommand Command(const std::string& fileName) {
  PlannedCommand command;
  command.text = fileName;
  EXPECT_TRUE(SplitFinishingCommand(fileName, command.program, command.arguments)) << fileName;
  return command;
}

TEST(FinishingCommand, ProgramPathQuotedArgumentsUnchanged) {
  std::string line;
  ASSERT_TRUE(FinishingCommandLine("C:\\Documents and Settings\\u\\Temp\\", Command("setup.exe /q  /x"), line));
  EXPECT_EQ(line, "\"C:\\Documents and Settings\\u\\Temp\\setup.exe\" /q  /x");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", Command("setup.exe"), line));
  EXPECT_EQ(line, "\"C:\\T\\setup.exe\"");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", Command("\"my setup.exe\" /q \"a b\""), line));
  EXPECT_EQ(line, "\"C:\\T\\my setup.exe\" /q \"a b\"");
  ASSERT_TRUE(FinishingCommandLine("C:\\T\\", Command("setup.exe\t/q"), line));
  EXPECT_EQ(line, "\"C:\\T\\setup.exe\"\t/q");
}

TEST(FinishingCommand, RefusedWhenThereIsNoProgramOrItsPathIsTooLong) {
  std::string program, arguments;
  EXPECT_FALSE(SplitFinishingCommand(" setup.exe", program, arguments));
  EXPECT_FALSE(SplitFinishingCommand("\"setup.exe /q", program, arguments));
  std::string line;
  const std::string directory = "C:\\" + std::string(246, 'd') + "\\";
  EXPECT_TRUE(FinishingCommandLine(directory.c_str(), Command("setup.exe"), line));     // 259 characters
  EXPECT_FALSE(FinishingCommandLine(directory.c_str(), Command("setup1.exe"), line));   // 260
  // Long arguments are no reason to refuse: only the program path has a fixed buffer.
  EXPECT_TRUE(FinishingCommandLine("C:\\T\\", Command("setup.exe " + std::string(300, 'a')), line));
}

}  // namespace
