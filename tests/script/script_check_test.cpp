// The one validity check of the setup script: its reasons, the path limit, and every device name;
// the escaping of package texts for terminals and logs; and path lengths as Windows counts them.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "script/payload_list.h"
#include "script/printable.h"
#include "script/script_check.h"

namespace {

SetupScript Script(const std::string& fileName, const std::string& files) {
  return SetupScript("[Cmd]\r\nLANG=ENU\r\nFileName=" + fileName + "\r\n[Files]\r\n" + files + "[Out]\r\nOutputName=x%s.exe\r\n");
}

// The reasons and the path limit at its edge; every other verdict is in the table of hostile
// packages (tests/installer/hostile_packages.h), which qorpack verify and the installer both judge.
TEST(ScriptCheck, ReasonsAndThePathLimit) {
  const std::string longName = std::string(230, 'n') + ".txt";
  const struct {
    const char* fileName;
    std::string files;
    std::size_t folderLength;
    int code;
    std::string reason;
  } cases[] = {
      {"setup.exe", "File02=Setup.EXE,d\r\n", 0, 4, "File02 names Setup.EXE again, as File01 does"},
      {"setup.exe", "File02=SETUPQOR.ini,d\r\n", 0, 4, "File02 has the setup script's own name, SETUPQOR.ini"},
      {"setup.exe", "File02=" + longName + ",d\r\n", 26, 8, "the path of " + longName.substr(0, 10)},
      {"setup.exe", "File02=" + longName + ",d\r\n", 25, 0, ""},  // 25 + 234 = 259 characters fit
      {"\"\" /q", "", 0, 4, "FileName names no program"},
      {"..\\setup.exe", "", 0, 4, "FileName's program ..\\setup.exe is none of the payload files"},
  };
  for (const auto& c : cases) {
    InstallPlan plan;
    const Failure failure =
        CheckSetupScript(Script(c.fileName, "File01=setup.exe,s\r\n" + c.files), plan, c.folderLength);
    EXPECT_EQ(failure.code, c.code) << c.fileName << " " << c.files << ": " << failure.reason;
    EXPECT_EQ(failure.reason.rfind(c.reason, 0), 0u) << failure.reason;
  }
}

TEST(ScriptCheck, DeviceNamesWithAnyExtension) {
  std::string name;
  for (const char* device : {"CON", "prn", "Aux", "NUL", "COM1", "com9", "LPT1", "lpt9", "CONIN$", "conout$",
                             "COM\xB9", "LPT\xB3"}) {
    for (const char* tail : {"", ".txt", ".tar.gz", " .log"}) {
      const std::string value = std::string(device) + tail + ",src";
      EXPECT_EQ(EntryName(value.c_str(), name), EntryProblem::DeviceName) << value;
    }
  }
  for (const char* fine : {"COM0,s", "LPT10,s", "CONSOLE,s", "NULL.txt,s", "xnul,s", "COM\xB4,s", "AUXILIARY,s"}) {
    EXPECT_EQ(EntryName(fine, name), EntryProblem::None) << fine;
  }
}

TEST(Printable, ControlCharactersBecomeEscapes) {
  EXPECT_EQ(EscapeControls("plain C:\\x.exe"), "plain C:\\x.exe");
  EXPECT_EQ(EscapeControls(std::string("a\x1b[2J\r\n\x7f\x9b\xe9", 10)), "a\\x1B[2J\\x0D\\x0A\\x7F\\x9B\xe9");
  // UTF-8 paths keep their characters, though their bytes pass through 80-9F; C1 controls written
  // in UTF-8 are escaped all the same.
  EXPECT_EQ(EscapeControls("C:\\Пакет 包\\п.exe"), "C:\\Пакет 包\\п.exe");
  EXPECT_EQ(EscapeControls("a\xC2\x9B" "2J\xC2\xA0"), "a\\xC2\\x9B" "2J\xC2\xA0");
}

// UTF-16 units of UTF-8, one per byte that is not UTF-8; what fits a path is decided by them.
TEST(PathLength, CountsAsWindowsDoes) {
  const struct {
    std::string path;
    std::size_t length;
  } cases[] = {
      {"", 0},
      {"C:\\temp\\", 8},
      {"Жtemp", 5},                   // two bytes, one unit
      {"漢字", 2},                     // three bytes, one unit
      {"\xF0\x9F\x93\xA6", 2},         // past U+FFFF: a surrogate pair
      {"not\xe9s", 5},                // an ANSI byte, not UTF-8
      {"\xC0\xAF\xED\xA0\x80", 5},     // an overlong form and a surrogate: bytes
      {"\xE6\xBC", 2},                 // a cut sequence
  };
  for (const auto& c : cases) EXPECT_EQ(platform::PathLength(c.path), c.length) << c.path;
  std::string cyrillic;
  for (int i = 0; i < 259; ++i) cyrillic += "Ж";
  EXPECT_TRUE(platform::PathFits(cyrillic));
  EXPECT_FALSE(platform::PathFits(cyrillic + "a"));
  std::string cjk;
  for (int i = 0; i < 259; ++i) cjk += "漢";
  EXPECT_TRUE(platform::PathFits(cjk));  // 777 bytes, the whole buffer
}

}  // namespace
