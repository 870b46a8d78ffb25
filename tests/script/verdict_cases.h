// The scripts whose verdict the builder, qorpack verify and the installer must agree on, with the
// reason CheckSetupScript gives (empty for a script the installer can work with). Each case lists
// its FileName and its entry names; the harnesses add the sources, the texts and OutputName.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace verdicts {

struct Case {
  const char* name;
  const char* fileName;             // the FileName value; null for none
  std::vector<std::string> entries; // entry names, File01 first; File01 is the program's file
  const char* reason;               // "" when the script passes
  const char* language = "ENU";     // the LANG value; null for none
};

inline const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"valid", "setup.exe /q", {"setup.exe", "data.txt"}, ""},
      {"quoted_program", "\"setup.exe\" /q", {"setup.exe"}, ""},
      {"folder_step", "setup.exe", {"setup.exe", "..\\x.txt"}, "File02 does not name a plain file"},
      {"wildcard", "setup.exe", {"setup.exe", "a*b"}, "File02 holds a character that no file name may hold"},
      {"device", "setup.exe", {"setup.exe", "nul.txt"}, "File02 names a device, not a file"},
      {"console_device", "setup.exe", {"setup.exe", "CONOUT$"}, "File02 names a device, not a file"},
      {"trailing_dot", "setup.exe", {"setup.exe", "x."}, "File02 ends in a dot or a blank"},
      {"duplicate", "setup.exe", {"setup.exe", "SETUP.EXE"}, "File02 names SETUP.EXE again, as File01 does"},
      {"script_name", "setup.exe", {"setup.exe", "setupqor.INI"},
       "File02 has the setup script's own name, setupqor.INI"},
      {"no_command", nullptr, {"setup.exe"}, "the script has no FileName"},
      {"foreign_program", "..\\..\\windows\\system32\\cmd.exe /c", {"setup.exe"},
       "FileName's program ..\\..\\windows\\system32\\cmd.exe is none of the payload files"},
      {"open_quote", "\"setup.exe /q", {"setup.exe"}, "FileName names no program: \"setup.exe /q"},
      {"empty_quotes", "\"\" /q", {"setup.exe"}, "FileName names no program: \"\" /q"},
      {"no_lang", "setup.exe /q", {"setup.exe"}, "the script has no LANG", nullptr},
      // Names equal to Windows for every letter of the code page (Windows-1252 here), not only a-z.
      {"accented_case", "setup.exe", {"setup.exe", "\xE9t\xE9.txt", "\xC9T\xC9.TXT"},
       "File03 names \xC9T\xC9.TXT again, as File02 does"},
      {"caron_case", "setup.exe", {"setup.exe", "\x9Ak.txt", "\x8AK.TXT"}, "File03 names \x8AK.TXT again, as File02 does"},
      {"diaeresis_case", "setup.exe", {"setup.exe", "\xFF.txt", "\x9F.TXT"}, "File03 names \x9F.TXT again, as File02 does"},
  };
  return cases;
}

// The script (or packing list) of a case; `source(i)` gives entry i's source path.
template <typename SourceOf>
std::string Script(const Case& c, SourceOf source) {
  std::string text = "[Cmd]\r\n";
  if (c.language != nullptr) text += std::string("LANG=") + c.language + "\r\n";
  text += "Title=Verdict\r\n";
  if (c.fileName != nullptr) text += std::string("FileName=") + c.fileName + "\r\n";
  text += "[Files]\r\n";
  for (std::size_t i = 0; i < c.entries.size(); ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "File%02u=", static_cast<unsigned>(i + 1));
    text += key + c.entries[i] + "," + source(i) + "\r\n";
  }
  return text + "[Out]\r\nOutputName=verdict.exe\r\n[ENU]\r\nErr04=refused\r\n";
}

// The build-log line of a refusal.
inline std::string BuildLogLine(const Case& c) {
  return std::string("The package would not install: ") + c.reason + ". Check the packing list.\r\n";
}

}  // namespace verdicts
