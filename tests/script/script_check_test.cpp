// The one validity check of the setup script, as a table: each script the installer and qorpack
// verify refuse, with its code and reason, and the device, character and FileName rules.
#include <gtest/gtest.h>

#include <string>

#include "script/payload_list.h"
#include "script/printable.h"
#include "script/script_check.h"

namespace {

SetupScript Script(const std::string& fileName, const std::string& files, bool outputName = true) {
  return SetupScript("[Cmd]\r\nFileName=" + fileName + "\r\n[Files]\r\n" + files +
                     (outputName ? "[Out]\r\nOutputName=x%s.exe\r\n" : ""));
}

TEST(ScriptCheck, RefusedScriptsWithCodeAndReason) {
  const std::string longName = std::string(230, 'n') + ".txt";
  const struct {
    const char* fileName;
    std::string files;
    std::size_t folderLength;
    int code;
    const char* reason;
  } cases[] = {
      {"setup.exe /q", "File01=setup.exe,s\r\nFile02=data.txt,d\r\n", 30, 0, ""},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=nul.txt,d\r\n", 0, 4, "File02 names a device, not a file"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=COM\xB2,d\r\n", 0, 4, "File02 names a device, not a file"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=a?b,d\r\n", 0, 4, "File02 holds a character that no file name may hold"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=a\x7f" "b,d\r\n", 0, 0, ""},  // DEL is a valid name character
      {"setup.exe", "File01=setup.exe,s\r\nFile02=x. ,d\r\n", 0, 4, "File02 ends in a dot or a blank"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=Setup.EXE,d\r\n", 0, 4, "File02 names Setup.EXE again, as File01 does"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=SETUPQOR.ini,d\r\n", 0, 4, "File02 has the setup script's own name, SETUPQOR.ini"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=" + longName + ",d\r\n", 30, 8, "is longer than 259 characters"},
      {"setup.exe", "File01=setup.exe,s\r\nFile02=" + longName + ",d\r\n", 25, 0, ""},  // 25 + 234 = 259 fits
      {"\"setup.exe", "File01=setup.exe,s\r\n", 0, 4, "FileName names no program"},
      {"\"\" /q", "File01=setup.exe,s\r\n", 0, 4, "FileName names no program"},
      {"..\\setup.exe", "File01=setup.exe,s\r\n", 0, 4, "FileName's program ..\\setup.exe is none of the payload files"},
      {"\"setup.exe\" /q", "File01=setup.exe,s\r\n", 0, 0, ""},
      {"setup.exe", "", 0, 4, "the script lists no File01"},
  };
  for (const auto& c : cases) {
    const Failure failure = CheckSetupScript(Script(c.fileName, c.files), c.folderLength);
    EXPECT_EQ(failure.code, c.code) << c.fileName << " / " << EscapeControls(c.files) << ": " << failure.reason;
    EXPECT_NE(failure.reason.find(c.reason), std::string::npos) << failure.reason;
  }
  EXPECT_EQ(CheckSetupScript(Script("setup.exe", "File01=setup.exe,s\r\n", false)).reason,
            "the script has no OutputName");
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

TEST(ScriptCheck, ForbiddenAndControlCharactersAndEndings) {
  std::string name;
  for (char c = 1; c < 0x20; ++c) {
    const std::string value = std::string("a") + c + "b,s";
    EXPECT_EQ(EntryName(value.c_str(), name), EntryProblem::BadCharacter) << static_cast<int>(c);
  }
  for (const char* value : {"a<b,s", "a>b,s", "a\"b,s", "a|b,s", "a?b,s", "a*b,s"}) {
    EXPECT_EQ(EntryName(value, name), EntryProblem::BadCharacter) << value;
  }
  for (const char* value : {"a.,s", "a ,s", "a. ,s", "a..,s"}) {
    EXPECT_EQ(EntryName(value, name), EntryProblem::BadEnding) << value;
  }
}

TEST(Printable, ControlCharactersBecomeEscapes) {
  EXPECT_EQ(EscapeControls("plain C:\\x.exe"), "plain C:\\x.exe");
  EXPECT_EQ(EscapeControls(std::string("a\x1b[2J\r\n\x7f\x9b\xe9", 10)), "a\\x1B[2J\\x0D\\x0A\\x7F\\x9B\xe9");
}

}  // namespace
