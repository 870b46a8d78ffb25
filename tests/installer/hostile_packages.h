// One table of hostile packages for both judges: qorpack verify (natively) and the installer's /h
// (under Wine) must each give the verdict the table names, so they give the same one. Each case is a
// setup script and its payload; payload entries named like the finishing command's usual program
// ("setup.exe" in any case) carry the caller's program (a file with a version block), the others a
// line of text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/installer/test_package.h"

namespace hostile {

struct Case {
  const char* name;
  std::string fileName;              // the value of Cmd/FileName
  std::vector<std::string> entries;  // the values of File01, File02, ...
  int code;                          // 0: installed and verified; else the error code both report
  std::string extra = "";            // appended to the script
  bool damaged = false;              // one payload byte changed after the checksum was made
};

inline std::vector<Case> Cases() {
  const std::string longName = std::string(246, 'n') + ".txt";
  return {
      {"accepted", "setup.exe /q", {"setup.exe,s", "data.txt,d"}, 0},
      {"program_in_other_case", "SETUP.EXE", {"setup.exe,s"}, 0},
      {"device_nul", "setup.exe", {"setup.exe,s", "NUL,d"}, 4},
      {"device_with_extension", "setup.exe", {"setup.exe,s", "nul.txt,d"}, 4},
      {"device_con_lower", "setup.exe", {"setup.exe,s", "con.log,d"}, 4},
      {"device_com1", "setup.exe", {"setup.exe,s", "COM1.dat,d"}, 4},
      {"device_lpt9", "setup.exe", {"setup.exe,s", "lpt9,d"}, 4},
      {"device_conout", "setup.exe", {"setup.exe,s", "CONOUT$,d"}, 4},
      {"device_blank_before_dot", "setup.exe", {"setup.exe,s", "AUX .txt,d"}, 4},
      {"device_superscript_port", "setup.exe", {"setup.exe,s", "COM\xB9.txt,d"}, 4},
      {"star", "setup.exe", {"setup.exe,s", "a*b,d"}, 4},
      {"less_than", "setup.exe", {"setup.exe,s", "a<b,d"}, 4},
      {"quote", "setup.exe", {"setup.exe,s", "a\"b,d"}, 4},
      {"pipe", "setup.exe", {"setup.exe,s", "a|b,d"}, 4},
      {"control_character", "setup.exe", {"setup.exe,s", "a\x01" "b,d"}, 4},
      {"escape_sequence", "setup.exe", {"setup.exe,s", "\x1b[2Ka,d"}, 4},
      {"trailing_dot", "setup.exe", {"setup.exe,s", "data.,d"}, 4},
      {"trailing_blank", "setup.exe", {"setup.exe,s", "data ,d"}, 4},
      {"parent_folder", "setup.exe", {"setup.exe,s", "..\\escape.txt,d"}, 4},
      {"sub_folder", "setup.exe", {"setup.exe,s", "sub/escape.txt,d"}, 4},
      {"drive", "setup.exe", {"setup.exe,s", "C:escape.txt,d"}, 4},
      {"stream", "setup.exe", {"setup.exe,s", "data.txt:hidden,d"}, 4},
      {"same_name_other_case", "setup.exe", {"setup.exe,s", "DATA.txt,d", "data.TXT,d"}, 4},
      {"the_script_own_name", "setup.exe", {"setup.exe,s", "setupqor.INI,d"}, 4},
      {"command_outside", "..\\..\\windows\\system32\\cmd.exe /c exit 0", {"setup.exe,s"}, 4},
      {"command_not_a_payload_file", "other.exe", {"setup.exe,s"}, 4},
      {"command_unbalanced_quote", "\"setup.exe /q", {"setup.exe,s"}, 4},
      {"command_empty_quotes", "\"\" setup.exe", {"setup.exe,s"}, 4},
      {"command_blank", "\"   \"", {"setup.exe,s"}, 4},
      {"name_too_long_for_any_folder", "setup.exe", {"setup.exe,s", longName + ",d"}, 8},
      {"script_over_the_bound", "setup.exe", {"setup.exe,s"}, 4, "; " + std::string(4u << 20, 'x') + "\r\n"},
      {"first_file_without_version", "setup.exe", {"readme.txt,r", "setup.exe,s"}, 3},
      {"checksum", "setup.exe", {"setup.exe,s"}, 2, "", true},
  };
}

inline std::string Script(const Case& c) {
  std::string text = "[Cmd]\r\nLANG=ENU\r\nTitle=Hostile\r\nFileName=" + c.fileName + "\r\n[Files]\r\n";
  for (std::size_t i = 0; i < c.entries.size(); ++i) {
    text += testpkg::PayloadKeyFor(i + 1) + "=" + c.entries[i] + "\r\n";
  }
  return text + "[Out]\r\nOutputName=Hostile%s.exe\r\n[ENU]\r\nErr04=script\r\n" + c.extra;
}

// The package of `c` behind `stub`, with `program` as the bytes of every "setup.exe" entry.
inline testpkg::Bytes Package(const Case& c, const testpkg::Bytes& stub, const testpkg::Bytes& program) {
  std::vector<testpkg::Piece> files;
  for (const std::string& entry : c.entries) {
    std::string name = entry.substr(0, entry.rfind(','));
    for (char& ch : name) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    files.push_back({name == "setup.exe" ? program : testpkg::ToBytes("hostile " + name), 0x01D5000000000000ull});
  }
  testpkg::Bytes package = testpkg::Compose(stub, {testpkg::ToBytes(Script(c)), 0x01D5000000000001ull}, files);
  if (c.damaged) package[package.size() - 9] ^= 0x20;
  return package;
}

}  // namespace hostile
