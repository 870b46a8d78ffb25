// One table of hostile packages for both judges: qorpack verify (natively) and the installer's /h
// (under Wine) must each give the verdict the table names, so they give the same one. Each case is a
// setup script and its payload; payload entries named like the finishing command's usual program
// ("setup.exe" in any case) carry the caller's program (a file with a version block), the others a
// line of text. Then a table of what another process may plant at the name of a record the
// installer writes, which both hosts run through the installer's own record code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/signature.h"
#include "tests/installer/test_package.h"

namespace hostile {

// What is done to a case's package besides its script and payload.
enum class Twist {
  None,
  Damaged,         // one payload byte changed after the checksum was made
  NoLang,          // the script has no LANG
  TopBitTime,      // the last payload file's stored time has its top bit set, which Windows never sets
  TwoGiB,          // the file is made 2 GiB long with zeros (sparse): one byte more than a package holds
  FourGiB,         // made 4 GiB and 8 bytes long, past what 32-bit offsets reach
  OversizeHeader,  // made 2 GiB and 16 bytes long, the stub's header naming a certificate table in
                   // its last 16 bytes: read as signed, a package that ends past 2 GiB
};

struct Case {
  const char* name;
  std::string fileName;              // the value of Cmd/FileName
  std::vector<std::string> entries;  // the values of File01, File02, ...
  int code;                          // 0: installed and verified; else the error code both report
  std::string extra = "";            // appended to the script
  Twist twist = Twist::None;
};

// A stored time with the top bit set: 2020 otherwise.
constexpr std::uint64_t kTopBitTime = 0x8000000000000000ull | 0x01D5000000000000ull;

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
      {"checksum", "setup.exe", {"setup.exe,s"}, 2, "", Twist::Damaged},
      // The page takes its texts from LANG's section: without it a double-click would fail where /h
      // installs, so both refuse it.
      {"no_lang", "setup.exe", {"setup.exe,s"}, 4, "", Twist::NoLang},
      // Names equal under Windows' case rules for the whole code page (Windows-1252), not only a-z.
      {"same_name_accented_case", "setup.exe", {"setup.exe,s", "\xE9t\xE9.txt,d", "\xC9T\xC9.txt,d"}, 4},
      {"same_name_caron_case", "setup.exe", {"setup.exe,s", "\x9A.txt,d", "\x8A.txt,d"}, 4},
      {"same_name_diaeresis_case", "setup.exe", {"setup.exe,s", "\xFF.txt,d", "\x9F.txt,d"}, 4},
      {"command_not_a_program", "data.txt", {"setup.exe,s", "data.txt,d"}, 4},
      // A time Windows cannot set is noted, as qorpack extract notes it; the file is whole.
      {"time_with_top_bit", "setup.exe", {"setup.exe,s", "data.txt,d"}, 0, "", Twist::TopBitTime},
      {"two_gib", "setup.exe", {"setup.exe,s"}, 2, "", Twist::TwoGiB},
      {"four_gib", "setup.exe", {"setup.exe,s"}, 2, "", Twist::FourGiB},
      {"oversize_header", "setup.exe", {"setup.exe,s"}, 2, "", Twist::OversizeHeader},
  };
}

inline std::string Script(const Case& c) {
  std::string text = std::string("[Cmd]\r\n") + (c.twist == Twist::NoLang ? "" : "LANG=ENU\r\n") +
                     "Title=Hostile\r\nFileName=" + c.fileName + "\r\n[Files]\r\n";
  for (std::size_t i = 0; i < c.entries.size(); ++i) {
    text += testpkg::PayloadKeyFor(i + 1) + "=" + c.entries[i] + "\r\n";
  }
  return text + "[Out]\r\nOutputName=Hostile%s.exe\r\n[ENU]\r\nErr04=script\r\n" + c.extra;
}

// The length the package file is given with zeros after its bytes are written (sparse, so that it
// takes no room), or 0 to leave it as written.
inline std::uint64_t FileLength(const Case& c) {
  switch (c.twist) {
    case Twist::TwoGiB: return 0x80000000ull;
    case Twist::FourGiB: return 0x100000008ull;
    case Twist::OversizeHeader: return 0x80000010ull;
    default: return 0;
  }
}

// The package of `c` behind `stub` (a PE image for OversizeHeader), with `program` as the bytes of
// every "setup.exe" entry; FileLength tells how long its file is to be made.
inline testpkg::Bytes Package(const Case& c, const testpkg::Bytes& stub, const testpkg::Bytes& program) {
  std::vector<testpkg::Piece> files;
  for (const std::string& entry : c.entries) {
    std::string name = entry.substr(0, entry.rfind(','));
    for (char& ch : name) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    files.push_back({name == "setup.exe" ? program : testpkg::ToBytes("hostile " + name), 0x01D5000000000000ull});
  }
  if (c.twist == Twist::TopBitTime) files.back().fileTime = kTopBitTime;
  testpkg::Bytes package = testpkg::Compose(stub, {testpkg::ToBytes(Script(c)), 0x01D5000000000001ull}, files);
  if (c.twist == Twist::Damaged) package[package.size() - 9] ^= 0x20;
  if (c.twist == Twist::OversizeHeader) {
    PeSigningFields fields;
    const auto readAt = [](void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
      const auto& bytes = *static_cast<const testpkg::Bytes*>(context);
      if (offset > bytes.size() || size > bytes.size() - offset) return false;
      std::copy(bytes.begin() + offset, bytes.begin() + offset + size, buffer);
      return true;
    };
    if (!ReadPeSigningFields(readAt, &package, static_cast<std::uint32_t>(package.size()), fields)) {
      throw std::runtime_error("the stub has no PE header to name a certificate table in");
    }
    const std::uint32_t entry[2] = {static_cast<std::uint32_t>(FileLength(c) - 16), 16};
    for (int i = 0; i < 8; ++i) {
      package[fields.entryOffset + i] = static_cast<std::uint8_t>(entry[i / 4] >> (8 * (i % 4)));
    }
  }
  return package;
}

// Where another process plants something at a record's name before an install that writes it.
enum class Record {
  FailureLine,  // QorEngineUpdate.log in the temporary folder, where a failed run adds its line
  LogOption,    // the FILE of /log FILE, which a run replaces with its steps
};
enum class Plant {
  HardLink,      // a second name of another file
  Symlink,       // a symbolic link to another file (Wine shows it as that file: not told apart there)
  DanglingLink,  // a symbolic link to a name that does not exist
  Folder,
};
struct RecordCase {
  const char* name;
  Record record;
  Plant plant;
};

// Every plant at each record. The record is never written through it: the other file keeps its
// bytes, and a dangling link's target is not created. The run that meets one still fails with
// -1, and its reason reaches the failure line; with /log the install does not start at all.
inline std::vector<RecordCase> RecordCases() {
  return {
      {"failure_line_hard_link", Record::FailureLine, Plant::HardLink},
      {"failure_line_symlink", Record::FailureLine, Plant::Symlink},
      {"failure_line_dangling_link", Record::FailureLine, Plant::DanglingLink},
      {"failure_line_folder", Record::FailureLine, Plant::Folder},
      {"log_option_hard_link", Record::LogOption, Plant::HardLink},
      {"log_option_symlink", Record::LogOption, Plant::Symlink},
      {"log_option_dangling_link", Record::LogOption, Plant::DanglingLink},
      {"log_option_folder", Record::LogOption, Plant::Folder},
  };
}

}  // namespace hostile
