// The packing list's path in the /m argument, the splitting of its entries, and what a source path
// names alike on both hosts.
#include "builder/packing_list.h"

#include "builder/build_files.h"
#include "builder/build_log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ListPath(const std::string& argumentText, ListPathResult expected = ListPathResult::Ok) {
  char path[platform::kPathCapacity];
  EXPECT_EQ(PackingListPath(argumentText.c_str(), path), expected) << argumentText;
  return path;
}

TEST(PackingListPathTest, TakesThePathAsGiven) {
  EXPECT_EQ(ListPath("/m .\\list.ini"), ".\\list.ini");
  EXPECT_EQ(ListPath("/M \t list.ini  "), "list.ini");
  EXPECT_EQ(ListPath("/m C:\\My Files\\list.ini"), "C:\\My Files\\list.ini");
  EXPECT_EQ(ListPath("/m \"C:\\My Files\\list.ini\""), "C:\\My Files\\list.ini");
  EXPECT_EQ(ListPath("/m \"unterminated list.ini"), "unterminated list.ini");
  EXPECT_EQ(ListPath("/make list.ini"), "list.ini");
}

TEST(PackingListPathTest, NoPathGivesAnEmptyOne) {
  EXPECT_EQ(ListPath("/m"), "");
  EXPECT_EQ(ListPath("/mlist.ini"), "");
  EXPECT_EQ(ListPath("/m   "), "");
}

TEST(PackingListPathTest, RefusesPathsLongerThan259Characters) {
  EXPECT_EQ(ListPath("/m " + std::string(259, 'p')).size(), 259u);
  EXPECT_EQ(ListPath("/m " + std::string(260, 'p'), ListPathResult::TooLong), "");
  EXPECT_EQ(ListPath("/m \"" + std::string(260, 'p') + "\"", ListPathResult::TooLong), "");
  // Characters, not bytes: 259 Cyrillic ones take 518 bytes and fit.
  std::string cyrillic;
  for (int i = 0; i < 259; ++i) cyrillic += "п";
  EXPECT_EQ(ListPath("/m " + cyrillic), cyrillic);
  EXPECT_EQ(ListPath("/m " + cyrillic + "p", ListPathResult::TooLong), "");
}

// A shortened log line halves no character of a UTF-8 path, whichever byte the cut falls on.
TEST(BuildLogTest, ShortenedLinesKeepWholeCharacters) {
  for (const std::string prefix : {"", "a", "ab"}) {
    std::string path = prefix;
    for (int i = 0; i < 200; ++i) path += "包";
    const std::string line = FormatLogLine("Warning: %s not found\r\n", path.c_str());
    EXPECT_LE(line.size(), 259u);
    EXPECT_NE(line.find("..."), std::string::npos);
    std::string rest = line;  // without its whole characters, only ASCII may be left
    for (std::size_t at; (at = rest.find("包")) != std::string::npos;) rest.erase(at, 3);
    for (const char c : rest) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << line;
  }
}

TEST(EntrySourcePathTest, SplitsAtTheLastCommaAndSkipsSeparators) {
  EXPECT_STREQ(EntrySourcePath("core.dll, ..\\bin\\core.dll"), "..\\bin\\core.dll");
  EXPECT_STREQ(EntrySourcePath("a,b,c"), "c");
  EXPECT_STREQ(EntrySourcePath("name,\t , src file.txt"), "src file.txt");
  EXPECT_STREQ(EntrySourcePath("name,"), "");
  EXPECT_STREQ(EntrySourcePath(",src"), "src");
  EXPECT_EQ(EntrySourcePath("no comma here"), nullptr);
}

TEST(EntrySourcePathTest, AbsolutePaths) {
  EXPECT_TRUE(IsAbsolutePath("C:\\bin\\core.dll"));
  EXPECT_TRUE(IsAbsolutePath("z:/x"));
  EXPECT_TRUE(IsAbsolutePath("\\\\server\\share\\a.dll"));
  EXPECT_TRUE(IsAbsolutePath("/usr/lib/a.dll"));
  EXPECT_FALSE(IsAbsolutePath("..\\bin\\core.dll"));
  EXPECT_FALSE(IsAbsolutePath("core.dll"));
  EXPECT_FALSE(IsAbsolutePath(""));
}

// Names that Windows reads as wildcards or devices mean the same on the native host, whatever file
// of that name its file system may hold; look-alikes are ordinary (here missing) files.
TEST(KindOfPathTest, WildcardsNameNoFileAndDeviceNamesAreDevices) {
  using platform::FileKind;
  const struct {
    const char* path;
    FileKind kind;
  } kCases[] = {
      {"src\\*.txt", FileKind::Missing},   {"a?b", FileKind::Missing},
      {"a<b", FileKind::Missing},           {"a>b", FileKind::Missing},
      {"a|b", FileKind::Missing},           {"a\"b", FileKind::Missing},
      {"nul", FileKind::Other},             {"src\\NUL.txt", FileKind::Other},
      {"C:com1", FileKind::Other},          {"out/lpt9.log", FileKind::Other},
      {"con .txt", FileKind::Other},        {"\\\\.\\pipe\\qor", FileKind::Other},
      {"//./C:", FileKind::Other},          {"console.txt", FileKind::Missing},
      {"com10", FileKind::Missing},         {"nul\\x.txt", FileKind::Missing},
  };
  for (const auto& c : kCases) EXPECT_EQ(KindOfPath(c.path), c.kind) << c.path;
}

}  // namespace
