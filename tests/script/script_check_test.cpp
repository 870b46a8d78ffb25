// The one validity check of the setup script: its reasons, the path limit, and every device name;
// and the escaping of package texts for terminals and logs.
#include <gtest/gtest.h>

#include <string>

#include "script/payload_list.h"
#include "script/printable.h"
#include "script/script_check.h"

namespace {

SetupScript Script(const std::string& fileName, const std::string& files) {
  return SetupScript("[Cmd]\r\nFileName=" + fileName + "\r\n[Files]\r\n" + files + "[Out]\r\nOutputName=x%s.exe\r\n");
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
    const Failure failure = CheckSetupScript(Script(c.fileName, "File01=setup.exe,s\r\n" + c.files), c.folderLength);
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
}

}  // namespace
