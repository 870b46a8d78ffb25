// The INI access: reads with the profile semantics of Windows, edits that keep every other byte of
// the file, and the file side (cut values, missing and unreadable files, relative paths).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "script/ini.h"
#include "tests/app/profile_file.h"
#include "platform/platform.h"

namespace {

std::string Lookup(const std::string& text, const char* section, const char* key) {
  bool found = false;
  const std::string value = ProfileLookup(text, section, key, &found);
  return found ? value : "<missing>";
}

std::string TempPath(const char* name) {
  char dir[platform::kPathCapacity];
  EXPECT_TRUE(platform::TempDirectory(dir));
  return std::string(dir) + name;
}

void Store(const std::string& path, const std::string& text) {
  platform::File file;
  ASSERT_TRUE(platform::OpenFile(path.c_str(), platform::OpenMode::CreateAlways, file));
  ASSERT_TRUE(platform::WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size())));
}

std::string Load(const std::string& path) {
  platform::File file;
  if (!platform::OpenFile(path.c_str(), platform::OpenMode::ReadShared, file)) return "<no file>";
  std::string text(1 << 16, '\0');
  std::uint32_t got = 0;
  EXPECT_TRUE(platform::ReadFile(file, &text[0], static_cast<std::uint32_t>(text.size()), got));
  text.resize(got);
  return text;
}

TEST(IniLookup, NamesIgnoreAsciiCaseAndBlanks) {
  const std::string text = "  [ Cmd ]  \r\n\t Title \t=  My  Product \t\r\n\vK\fT=inner\r\n";
  EXPECT_EQ(Lookup(text, "cmd", "TITLE"), "My  Product");
  EXPECT_EQ(Lookup(text, " CMD\t", " title "), "My  Product");
  EXPECT_EQ(Lookup(text, "Cmd", "K\fT"), "inner");
  // Only ASCII letters fold: to the Windows functions Ä and ä are different names.
  EXPECT_EQ(Lookup("[\xC4]\r\nk=1\r\n", "\xE4", "k"), "<missing>");
}

TEST(IniLookup, QuotesAroundAValue) {
  const std::string text =
      "[Q]\r\nd=\"quoted\"\r\ns='single'\r\nopen=\"open\r\nlone=\"\r\nempty=\"\"\r\n"
      "inner=\"a\"b\"\r\nmixed='a\"\r\npadded=  \" x \"  \r\n";
  EXPECT_EQ(Lookup(text, "Q", "d"), "quoted");
  EXPECT_EQ(Lookup(text, "Q", "s"), "single");
  EXPECT_EQ(Lookup(text, "Q", "open"), "\"open");
  EXPECT_EQ(Lookup(text, "Q", "lone"), "\"");
  EXPECT_EQ(Lookup(text, "Q", "empty"), "");
  EXPECT_EQ(Lookup(text, "Q", "inner"), "a\"b");
  EXPECT_EQ(Lookup(text, "Q", "mixed"), "'a\"");
  EXPECT_EQ(Lookup(text, "Q", "padded"), " x ");
}

TEST(IniLookup, OddLinesAndDuplicates) {
  const std::string text =
      "pre=before\r\n[A]\r\n;c=comment\r\nnoequals\r\nk=1\r\nK=2\r\nshadow\r\nshadow=hidden\r\n"
      "=nameless\r\nurl=a=b\r\nempty=\r\n[B]\r\nk=b\r\n[a]\r\nk=second\r\nonly=second\r\n";
  EXPECT_EQ(Lookup(text, "", "pre"), "before");           // keys before any section: section ""
  EXPECT_EQ(Lookup(text, "A", "c"), "<missing>");          // a ";" line is the key ";c"
  EXPECT_EQ(Lookup(text, "A", ";c"), "comment");
  EXPECT_EQ(Lookup(text, "A", "noequals"), "<missing>");
  EXPECT_EQ(Lookup(text, "A", "k"), "1");                  // first duplicate key wins
  EXPECT_EQ(Lookup(text, "A", "shadow"), "<missing>");     // a line without "=" hides later ones
  EXPECT_EQ(Lookup(text, "A", ""), "nameless");
  EXPECT_EQ(Lookup(text, "A", "url"), "a=b");
  EXPECT_EQ(Lookup(text, "A", "empty"), "");
  EXPECT_EQ(Lookup(text, "A", "only"), "<missing>");       // a duplicate section is never read
  EXPECT_EQ(Lookup(text, "B", "k"), "b");
}

TEST(IniLookup, SectionLinesAndLineEnds) {
  const std::string brackets = "[C] junk\r\nk=c\r\n[D\r\nd=1\r\n[E]]\r\nk=e\r\n[[F]\r\nk=f\r\n[x=5\r\n";
  EXPECT_EQ(Lookup(brackets, "C", "k"), "c");
  EXPECT_EQ(Lookup(brackets, "C", "d"), "1");             // "[D" is no section line
  EXPECT_EQ(Lookup(brackets, "E]", "k"), "e");
  EXPECT_EQ(Lookup(brackets, "[F", "[x"), "5");
  const std::string ends = "[A]\ra=1\rb=2\n[B]\r\nc=3\n\rd=4";
  EXPECT_EQ(Lookup(ends, "A", "b"), "2");
  EXPECT_EQ(Lookup(ends, "B", "c"), "3");
  EXPECT_EQ(Lookup(ends, "B", "d"), "4");                  // no final line end
  EXPECT_EQ(Lookup("\xEF\xBB\xBF[Cmd]\r\nLANG=ENU\r\n", "Cmd", "LANG"), "ENU");
}

TEST(IniLookup, NulBytesEndNamesAndValuesOnly) {
  const char raw[] = "[S]\r\na=x\0y\r\n\0c=3\r\n[T\0junk]\r\nt=1\r\n";
  const std::string text(raw, sizeof raw - 1);
  EXPECT_EQ(Lookup(text, "S", "a"), "x");
  EXPECT_EQ(Lookup(text, "S", ""), "3");
  EXPECT_EQ(Lookup(text, "T", "t"), "1");
}

TEST(IniEdit, ReplaceKeepsEveryOtherByte) {
  const std::string text = "; list\n[Files]\r\n  File01 =  old.exe,src  \n File02=b\r\n\r\n[Out]\r\nk=v";
  EXPECT_EQ(ProfileEdit(text, "files", "FILE01", "new.exe,x"),
            "; list\n[Files]\r\n  File01 =new.exe,x\n File02=b\r\n\r\n[Out]\r\nk=v");
  EXPECT_EQ(ProfileEdit(text, "Out", "k", ""), "; list\n[Files]\r\n  File01 =  old.exe,src  \n File02=b\r\n\r\n[Out]\r\nk=");
  // A line without "=" gets one.
  EXPECT_EQ(ProfileEdit("[S]\r\nflag  \r\n", "S", "flag", "1"), "[S]\r\nflag=1\r\n");
  // Only the first of duplicate keys and sections is edited.
  EXPECT_EQ(ProfileEdit("[S]\nk=1\nk=2\n[s]\nk=3\n", "S", "k", "x"), "[S]\nk=x\nk=2\n[s]\nk=3\n");
}

TEST(IniEdit, DeleteRemovesOneLine) {
  const std::string text = "[S]\r\na=1\nb=2\r\n[T]\r\nb=3";
  EXPECT_EQ(ProfileEdit(text, "S", "A", nullptr), "[S]\r\nb=2\r\n[T]\r\nb=3");
  EXPECT_EQ(ProfileEdit(text, "T", "b", nullptr), "[S]\r\na=1\nb=2\r\n[T]\r\n");
  EXPECT_EQ(ProfileEdit(text, "S", "missing", nullptr), text);
  EXPECT_EQ(ProfileEdit(text, "Missing", "a", nullptr), text);
}

TEST(IniEdit, AddsAKeyAfterTheSectionsLastKeyLine) {
  const std::string text = "[One]\r\na=1\nb=2\n\r\n; about Two\r\n\r\n[Two]\r\n";
  EXPECT_EQ(ProfileEdit(text, "one", "c", "3"), "[One]\r\na=1\nb=2\nc=3\r\n\r\n; about Two\r\n\r\n[Two]\r\n");
  EXPECT_EQ(ProfileEdit(text, "Two", "d", "4"), text + "d=4\r\n");
  // After a last line without a line end.
  EXPECT_EQ(ProfileEdit("[S]\nk=1", "S", "n", "2"), "[S]\nk=1\r\nn=2\r\n");
  EXPECT_EQ(ProfileEdit("[S]", "S", "n", "2"), "[S]\r\nn=2\r\n");
  // Keys before any section, and after a byte order mark.
  EXPECT_EQ(ProfileEdit("\xEF\xBB\xBF[S]\r\n", "", "top", "t"), "\xEF\xBB\xBFtop=t\r\n[S]\r\n");
}

TEST(IniEdit, AddsAMissingSectionAtTheEnd) {
  EXPECT_EQ(ProfileEdit("", "Cmd", "LANG", "ENU"), "[Cmd]\r\nLANG=ENU\r\n");
  EXPECT_EQ(ProfileEdit("[A]\nk=1", " New ", " key ", "v"), "[A]\nk=1\r\n[New]\r\nkey=v\r\n");
  EXPECT_EQ(ProfileEdit("[A]\n", "B", "k", "v"), "[A]\n[B]\r\nk=v\r\n");
}

TEST(IniEdit, RefusesWhatCouldNotBeReadBack) {
  const std::string text = "[S]\r\nk=1\r\n";
  EXPECT_EQ(ProfileEdit(text, "S", "k", "two\r\nlines"), text);
  EXPECT_EQ(ProfileEdit(text, "S\n", "k", "v"), text);
  EXPECT_EQ(ProfileEdit(text, "S", "a=b", "v"), text);
  EXPECT_EQ(ProfileEdit(text, "S", "[x]", "v"), text);
  EXPECT_EQ(ProfileEdit(text, "S", "  ", "v"), text);
  EXPECT_EQ(ProfileEdit(text, nullptr, "k", "v"), text);
}

TEST(IniFile, ReadCutsLongValuesAndReportsTheirLength) {
  const std::string path = TempPath("qor_ini_long.ini");
  Store(path, "[S]\r\nv=\"" + std::string(300, 'x') + "\"\r\nshort=abc\r\n");
  char buffer[260];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ReadProfileValue("S", "v", "@", buffer, sizeof buffer, path.c_str()), 300u);
  EXPECT_EQ(std::string(buffer), std::string(259, 'x'));
  EXPECT_EQ(ReadProfileValue("s", "SHORT", "@", buffer, 3, path.c_str()), 3u);
  EXPECT_STREQ(buffer, "ab");
  // Capacity 0 writes nothing at all.
  buffer[0] = '#';
  EXPECT_EQ(ReadProfileValue("S", "short", "@", buffer, 0, path.c_str()), 3u);
  EXPECT_EQ(buffer[0], '#');
  // The default loses trailing blanks and quotes, as the Windows functions treat it.
  EXPECT_EQ(ReadProfileValue("S", "none", "  <No title>  ", buffer, sizeof buffer, path.c_str()), 12u);
  EXPECT_STREQ(buffer, "  <No title>");
  EXPECT_EQ(ReadProfileValue("S", "none", nullptr, buffer, sizeof buffer, path.c_str()), 0u);
  EXPECT_STREQ(buffer, "");
  platform::RemoveFile(path.c_str());
}

TEST(IniFile, MissingOrUnreadableFilesGiveTheDefault) {
  char buffer[260];
  const std::string missing = TempPath("qor_ini_no_such_file.ini");
  EXPECT_EQ(ReadProfileValue("Cmd", "LANG", "@", buffer, sizeof buffer, missing.c_str()), 1u);
  EXPECT_STREQ(buffer, "@");
  // Deleting from a missing file succeeds and creates nothing.
  EXPECT_TRUE(WriteProfileValue("Cmd", "LANG", nullptr, missing.c_str()));
  EXPECT_FALSE(platform::FileExists(missing.c_str()));
  // A folder cannot be read as a file: reads give the default and writes fail.
  char temp[platform::kPathCapacity];
  ASSERT_TRUE(platform::TempDirectory(temp));
  std::string folder(temp);
  folder.pop_back();
  EXPECT_EQ(ReadProfileValue("Cmd", "LANG", "@", buffer, sizeof buffer, folder.c_str()), 1u);
  EXPECT_STREQ(buffer, "@");
  EXPECT_FALSE(WriteProfileValue("Cmd", "LANG", "ENU", folder.c_str()));
}

TEST(IniFile, WritesEditInPlaceAndKeepLineEnds) {
  const std::string path = TempPath("qor_ini_edit.ini");
  const std::string text = "[Files]\nFile01=a.exe,src\\a.exe\nFile02=b.dll,src\\b.dll\n\n[Out]\r\nOutputName=x.exe";
  Store(path, text);
  EXPECT_TRUE(WriteProfileValue("Files", "File02", nullptr, path.c_str()));
  EXPECT_EQ(Load(path), "[Files]\nFile01=a.exe,src\\a.exe\n\n[Out]\r\nOutputName=x.exe");
  EXPECT_TRUE(WriteProfileValue("FILES", "file01", "c.exe,src\\c.exe", path.c_str()));
  EXPECT_EQ(Load(path), "[Files]\nFile01=c.exe,src\\c.exe\n\n[Out]\r\nOutputName=x.exe");
  EXPECT_TRUE(WriteProfileValue("Out", "VersionFile", "v", path.c_str()));
  EXPECT_EQ(Load(path), "[Files]\nFile01=c.exe,src\\c.exe\n\n[Out]\r\nOutputName=x.exe\r\nVersionFile=v\r\n");
  // A refused write reports failure and leaves the file alone.
  EXPECT_FALSE(WriteProfileValue("Out", "Bad", "a\nb", path.c_str()));
  EXPECT_EQ(Load(path), "[Files]\nFile01=c.exe,src\\c.exe\n\n[Out]\r\nOutputName=x.exe\r\nVersionFile=v\r\n");
  platform::RemoveFile(path.c_str());
}

// The profile functions of Windows look a bare file name up in the Windows folder, so a packing
// list named without a folder read as empty; ours is found in the current folder.
TEST(IniFile, ABareNameIsInTheCurrentFolder) {
  const char* name = "qor_ini_relative_test.ini";
  EXPECT_TRUE(WriteProfileValue("Cmd", "LANG", "ENU", name));
  char buffer[260];
  EXPECT_EQ(ReadProfileValue("Cmd", "LANG", "@", buffer, sizeof buffer, name), 3u);
  EXPECT_STREQ(buffer, "ENU");
  char current[platform::kPathCapacity];
  ASSERT_TRUE(platform::CurrentDirectory(current));
  EXPECT_EQ(Load(std::string(current) + "/" + name), "[Cmd]\r\nLANG=ENU\r\n");
  platform::RemoveFile(name);
}

}  // namespace
