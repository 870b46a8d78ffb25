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
  std::vector<std::string> entries; // entry names, File01 first; File01 is a program with a version block
  const char* reason;               // "" when the script passes
  const char* lang = "ENU";         // the LANG value; null for none
  std::string sections = "";        // language sections besides [ENU], which holds Err04 alone
  const char* lastText = nullptr;   // the last entry's bytes, when it is a command script that runs
};

// A language section with every page text (Msg02 ... Msg14, each "<NAME> NN"); `key` is left out,
// or given `value` when that is not null.
inline std::string PageSection(const std::string& name, const std::string& key = "", const char* value = nullptr) {
  std::string text = "[" + name + "]\r\n";
  for (int n = 2; n <= 14; ++n) {
    char line[16];
    std::snprintf(line, sizeof line, "Msg%02d", n);
    if (line == key && value == nullptr) continue;
    text += std::string(line) + "=" + (line == key ? std::string(value) : name + " " + (line + 3)) + "\r\n";
  }
  return text;
}

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
      // The kinds of program the installer starts, and the others.
      {"com_program", "setup.com /q", {"setup.com", "data.txt"}, ""},
      {"command_script", "INSTALL.CMD /q", {"setup.exe", "install.cmd"}, "", "ENU", "", "@exit /b 0\r\n"},
      {"batch_file", "\"my setup.Bat\" /x", {"setup.exe", "my setup.Bat"}, "", "ENU", "", "@exit 0\r\n"},
      {"text_program", "readme.txt", {"setup.exe", "readme.txt"},
       "FileName's program readme.txt is no .exe, .com, .msi, .cmd or .bat file"},
      {"no_extension", "setup /q", {"setup.exe", "setup"}, "FileName's program setup is no .exe, .com, .msi, .cmd or .bat file"},
      {"library_program", "setup.dll", {"setup.dll"}, "FileName's program setup.dll is no .exe, .com, .msi, .cmd or .bat file"},
      {"script_host", "install.vbs", {"setup.exe", "install.vbs"},
       "FileName's program install.vbs is no .exe, .com, .msi, .cmd or .bat file"},
      {"program_extension_first", "setup.exe.txt", {"setup.exe", "setup.exe.txt"},
       "FileName's program setup.exe.txt is no .exe, .com, .msi, .cmd or .bat file"},
      {"extension_without_dot", "setupexe", {"setup.exe", "setupexe"},
       "FileName's program setupexe is no .exe, .com, .msi, .cmd or .bat file"},
      // LANG: one section is taken as it is; a list must name sections that are there, each once, and
      // the first must hold every page text.
      {"lang_single_missing", "setup.exe", {"setup.exe"}, "", "FRA"},
      {"lang_list", "setup.exe", {"setup.exe"}, "", "DEU, ENU", PageSection("DEU")},
      {"lang_list_other_case", "setup.exe", {"setup.exe"}, "", "deu,enu,Fra", PageSection("DEU") + "[FRA]\r\n"},
      {"lang_missing_section", "setup.exe", {"setup.exe"}, "LANG lists FRA, a section the script does not have",
       "DEU,FRA,ENU", PageSection("DEU")},
      {"lang_repeated", "setup.exe", {"setup.exe"}, "LANG lists deu twice", "DEU,ENU,deu", PageSection("DEU")},
      {"lang_empty_name", "setup.exe", {"setup.exe"}, "LANG lists an empty section name", "DEU,,ENU",
       PageSection("DEU")},
      {"lang_trailing_comma", "setup.exe", {"setup.exe"}, "LANG lists an empty section name", "DEU,",
       PageSection("DEU")},
      {"lang_first_lacks_a_text", "setup.exe", {"setup.exe"},
       "the first section that LANG lists, DEU, has no text for Msg05", "DEU,ENU", PageSection("DEU", "Msg05")},
      {"lang_first_text_empty", "setup.exe", {"setup.exe"},
       "the first section that LANG lists, DEU, has no text for Msg14", "DEU,ENU", PageSection("DEU", "Msg14", "")},
      {"lang_first_text_at", "setup.exe", {"setup.exe"},
       "the first section that LANG lists, DEU, has no text for Msg07", "DEU,ENU", PageSection("DEU", "Msg07", "@x")},
      {"lang_first_without_texts", "setup.exe", {"setup.exe"},
       "the first section that LANG lists, ENU, has no text for Msg02", "ENU,DEU", PageSection("DEU")},
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
  if (c.lang != nullptr) text += std::string("LANG=") + c.lang + "\r\n";
  text += "Title=Verdict\r\n";
  if (c.fileName != nullptr) text += std::string("FileName=") + c.fileName + "\r\n";
  text += "[Files]\r\n";
  for (std::size_t i = 0; i < c.entries.size(); ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "File%02u=", static_cast<unsigned>(i + 1));
    text += key + c.entries[i] + "," + source(i) + "\r\n";
  }
  return text + "[Out]\r\nOutputName=verdict.exe\r\n[ENU]\r\nErr04=refused\r\n" + c.sections;
}

// The bytes of a case's entry `i`: `program` (a program with a version block) for File01, the command
// script for the last entry when the case has one, a text otherwise.
template <typename Bytes>
Bytes EntryBytes(const Case& c, std::size_t i, const Bytes& program) {
  if (i == 0) return program;
  const std::string text = c.lastText != nullptr && i + 1 == c.entries.size() ? std::string(c.lastText)
                                                                              : "payload " + std::to_string(i);
  return Bytes(text.begin(), text.end());
}

// The build-log line of a refusal.
inline std::string BuildLogLine(const Case& c) {
  return std::string("The package would not install: ") + c.reason + ". Check the packing list.\r\n";
}

}  // namespace verdicts
