// The payload list's names: what may be joined to the extraction folder.
#include <gtest/gtest.h>

#include <string>

#include "script/payload_list.h"

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

}  // namespace
