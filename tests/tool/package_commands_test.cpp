// qorpack list, verify and extract on crafted packages: verify's verdict on the table of hostile
// packages (the installer's /h gives the same one under Wine), and nothing written outside its
// scratch folder; list's escaping of control characters; extract's folder, exact names and times.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "installer/signature_check.h"
#include "package/signature.h"
#include "script/script_check.h"
#include "tests/builder/pe_image.h"
#include "tests/installer/hostile_packages.h"

namespace {

namespace fs = std::filesystem;
using testpkg::Bytes;

const fs::path kScratch = fs::path(QOR_TOOL_SCRATCH) / "package-commands";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Outcome {
  int status;
  std::string out, err;
};

// Runs qorpack with `arguments` (already quoted for the shell) and TMPDIR set to `temp`.
Outcome Qorpack(const std::string& arguments, const fs::path& temp) {
  const fs::path out = kScratch / "qorpack.stdout", err = kScratch / "qorpack.stderr";
  const std::string command = "TMPDIR='" + temp.string() + "' '" + QORPACK_PATH + "' " + arguments + " >'" +
                              out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
}

Bytes Program() {
  pe_test::ImageSpec image;
  image.languages[0].versionMS = 0x00010002;
  return pe_test::MakeImage(image);
}

class PackageCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(kScratch);
    fs::create_directories(kScratch / "temp");
  }
  fs::path Write(const std::string& name, const Bytes& bytes) {
    WriteBytes(kScratch / name, bytes);
    return kScratch / name;
  }
};

TEST_F(PackageCommands, VerifyGivesTheInstallersVerdictOnEveryHostilePackage) {
  // A PE image, as the installer's own is, so that a header can name a certificate table.
  Bytes stub = pe_test::MakeImage(pe_test::ImageSpec());
  testpkg::AppendMarker(stub);
  const Bytes program = Program();
  for (const hostile::Case& c : hostile::Cases()) {
    const fs::path package = Write("hostile.exe", hostile::Package(c, stub, program));
    if (const std::uint64_t length = hostile::FileLength(c)) fs::resize_file(package, length);
    const Outcome run = Qorpack("verify '" + package.string() + "'", kScratch / "temp");
    std::smatch code;
    if (c.code == 0) {
      EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
      // The note's temporary directory is the longest the check takes: one character more, and the
      // extraction folder's paths pass 259 (the Windows suite installs at both lengths).
      std::smatch note;
      ASSERT_TRUE(std::regex_search(run.out, note, std::regex("note: the longest name \\(([0-9]+) characters\\) fits a "
                                                              "temporary directory of up to ([0-9]+) characters\n")))
          << c.name << ": " << run.out;
      const std::size_t longest = std::stoul(note[2]) + 1 + 19 + 1;
      InstallPlan plan;
      EXPECT_FALSE(CheckSetupScript(SetupScript(hostile::Script(c)), plan, longest)) << c.name;
      EXPECT_EQ(std::stoul(note[1]), plan.longestName) << c.name;
      EXPECT_EQ(CheckSetupScript(SetupScript(hostile::Script(c)), plan, longest + 1).code, kFatalTempFile) << c.name;
    } else if (std::regex_search(run.err, code, std::regex("refuses this package: error code ([0-9]+): "))) {
      EXPECT_EQ(run.status, 1) << c.name;
      EXPECT_EQ(std::stoi(code[1]), c.code) << c.name << ": " << run.err;
    } else {
      ADD_FAILURE() << c.name << ": no error code in '" << run.err << "'";
    }
    // No control character of the package reaches the terminal.
    for (const char ch : run.err) EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << c.name;
    // The version check's scratch copy is gone again; nothing else was written.
    EXPECT_TRUE(fs::is_empty(kScratch / "temp")) << c.name;
    if (hostile::FileLength(c) != 0) {
      EXPECT_NE(run.err.find(": the package is 2 GiB or larger, more than a package can hold: it is damaged\n"),
                std::string::npos)
          << c.name << ": " << run.err;
      // list and extract have nothing to show of it either, and say why.
      const Outcome listed = Qorpack("list '" + package.string() + "'", kScratch / "temp");
      EXPECT_EQ(listed.status, 1) << c.name;
      EXPECT_EQ(listed.err, "qorpack: the package is 2 GiB or larger, more than a package can hold: it is damaged\n");
      fs::remove(package);
    }
  }
}

// Without a scratch folder for the version check, verify blames the machine, not the package.
TEST_F(PackageCommands, VerifyWithoutAScratchFolderSaysSo) {
  const fs::path package = Write("good.exe", hostile::Package(hostile::Cases()[0], testpkg::FakeStub(64), Program()));
  const Outcome run = Qorpack("verify '" + package.string() + "'", kScratch / "missing");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "qorpack: no scratch folder for the version check: " + (kScratch / "missing").string() +
                         "/: No such file or directory.\n");
}

TEST_F(PackageCommands, ListShowsControlCharactersEscaped) {
  const std::string script = "[Cmd]\r\nTitle=T\x1b[2J\x07itle\r\nFileName=setup.exe\x08\x08" "forged\r\n[Files]\r\n"
                             "File01=setup.exe,s\r\n";
  const fs::path package = Write("list.exe", testpkg::Compose(testpkg::FakeStub(64), {testpkg::ToBytes(script), 0},
                                                              {{Program(), 0x01D5000000000000ull}}));
  const Outcome run = Qorpack("list '" + package.string() + "'", kScratch / "temp");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("title: T\\x1B[2J\\x07itle\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("finishing command: setup.exe\\x08\\x08forged\n"), std::string::npos) << run.out;
}

// list shows the command line the installer runs for each kind of program, with the folders of the
// installing machine as placeholders, and the sections that LANG lists; --json the same.
TEST_F(PackageCommands, ListShowsTheCommandThatRunsAndTheLanguages) {
  const struct {
    const char* cmd;
    const char* runs;
    const char* with;       // the line after runs:, or ""
    const char* languages;  // the languages: line, or ""
    const char* json;       // a part of --json
  } cases[] = {
      {"LANG=ENU\r\nFileName=setup.exe /q", "runs: \"<extraction folder>\\setup.exe\" /q\n", "", "languages: ENU\n",
       "\"runs\": \"\\\"<extraction folder>\\\\setup.exe\\\" /q\", \"commandScript\": null, \"languages\": [\"ENU\"]"},
      {"LANG=DEU,FRA\r\nFileName=Product.MSI /qn",
       "runs: \"<system folder>\\msiexec.exe\" /i \"<extraction folder>\\Product.MSI\" /qn\n", "",
       "languages: DEU, FRA\n", "\"languages\": [\"DEU\", \"FRA\"]"},
      {"LANG=FRA\r\nFileName=\"in stall.bat\" a \"b c\" d",
       "runs: \"<system folder>\\cmd.exe\" /d /v:off /s /c \"\"%QOR_COMMAND_SCRIPT%\" a \"b c\" d\"\n",
       "with QOR_COMMAND_SCRIPT=<extraction folder>\\in stall.bat\n", "languages: FRA\n",
       "\"commandScript\": \"<extraction folder>\\\\in stall.bat\", \"languages\": [\"FRA\"]"},
  };
  std::string sections;
  for (const char* name : {"DEU", "FRA"}) {
    sections += std::string("[") + name + "]\r\n";
    for (int n = 2; n <= 14; ++n) sections += "Msg" + std::string(n < 10 ? "0" : "") + std::to_string(n) + "=t\r\n";
  }
  for (const auto& c : cases) {
    const std::string script = std::string("[Cmd]\r\n") + c.cmd + "\r\n[Files]\r\nFile01=setup.exe,s\r\n"
                               "File02=Product.MSI,m\r\nFile03=in stall.bat,b\r\n[Out]\r\nOutputName=o.exe\r\n" + sections;
    const fs::path package = Write("kinds.exe", testpkg::Compose(testpkg::FakeStub(64), {testpkg::ToBytes(script), 0},
                                                                 {{Program(), 0}, {testpkg::ToBytes("m"), 0},
                                                                  {testpkg::ToBytes("@exit 0"), 0}}));
    const Outcome listed = Qorpack("list '" + package.string() + "'", kScratch / "temp");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find(std::string("\n") + c.runs + c.with + c.languages + "signature:"), std::string::npos)
        << c.cmd << "\n" << listed.out;
    const Outcome json = Qorpack("list --json '" + package.string() + "'", kScratch / "temp");
    EXPECT_NE(json.out.find(c.json), std::string::npos) << c.cmd << "\n" << json.out;
  }
}

TEST_F(PackageCommands, ListVerifyAndExtractKeepToTheScriptBound) {
  hostile::Case big = hostile::Cases()[0];
  big.extra = "; " + std::string(4u << 20, 'x') + "\r\n";
  const fs::path package = Write("big.exe", hostile::Package(big, testpkg::FakeStub(64), Program()));
  for (const std::string command : {"list", "verify", "extract"}) {
    const std::string target = command == "extract" ? " '" + (kScratch / "big").string() + "'" : "";
    const Outcome run = Qorpack(command + " '" + package.string() + "'" + target, kScratch / "temp");
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find("SetupQor.ini is larger than 4194304 bytes"), std::string::npos) << command << run.err;
  }
}

// DIR is created; names are kept exactly as stored, next to names that differ only in case; a time
// before 1970 is set; one the file system cannot hold is a note, not a failure.
TEST_F(PackageCommands, ExtractCreatesTheFolderAndKeepsNamesAndTimes) {
  const std::string script = "[Cmd]\r\nFileName=Setup.exe\r\n[Files]\r\nFile01=Setup.exe,s\r\nFile02=Old.txt,o\r\n"
                             "File03=Far.txt,f\r\n";
  constexpr std::uint64_t k1960 = 0x01930F0FC3E6C000ull;       // 1960-07-07, before the POSIX epoch
  constexpr std::uint64_t kFarFuture = 0x7FFFFFFFFFFFFFFFull;  // year 30828
  const fs::path package =
      Write("names.exe", testpkg::Compose(testpkg::FakeStub(64), {testpkg::ToBytes(script), 0x01D5000000000000ull},
                                          {{Program(), 0x01D5000000000000ull},
                                           {testpkg::ToBytes("old"), k1960},
                                           {testpkg::ToBytes("far"), kFarFuture}}));
  fs::create_directories(kScratch / "OUT");
  WriteBytes(kScratch / "OUT" / "old.txt", testpkg::ToBytes("someone else's"));
  const fs::path target = kScratch / "out" / "deeper";
  const Outcome run = Qorpack("extract '" + package.string() + "' '" + target.string() + "'", kScratch / "temp");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(target / "Old.txt"), "old");
  EXPECT_EQ(ReadText(kScratch / "OUT" / "old.txt"), "someone else's");
  EXPECT_FALSE(fs::exists(target / "old.txt"));
  struct stat st = {};
  ASSERT_EQ(stat((target / "Old.txt").c_str(), &st), 0);
  EXPECT_EQ(static_cast<long long>(st.st_mtim.tv_sec), -299376000ll);
  EXPECT_EQ(ReadText(target / "Far.txt"), "far");
  if (run.err.find("Far.txt keeps another time") == std::string::npos) {
    ASSERT_EQ(stat((target / "Far.txt").c_str(), &st), 0);  // a file system that holds it: it is set
    EXPECT_EQ(static_cast<long long>(st.st_mtim.tv_sec), 910692730085ll);
  }
}

// Packages signed by osslsigncode (the signature fuzzer's golden files): one with a SHA-1 signature
// nested in a SHA-256 one, one timestamped. Their payload has no version block, so error code 3 says
// that every signature passed; code 2 that verify refused a signature, with its reason.
TEST_F(PackageCommands, VerifyChecksEverySignaturesDigest) {
  const fs::path corpus = QOR_SIGNED_CORPUS;
  const auto read = [&](const char* name) {
    const std::string text = ReadText(corpus / name);
    return Bytes(text.begin(), text.end());
  };
  const Bytes nested = read("signed_nested.pkg"), timestamped = read("signed_timestamped.pkg");
  const auto fieldsOf = [](const Bytes& bytes) {
    PeSigningFields fields;
    EXPECT_TRUE(ReadPeSigningFields(
        [](void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
          const Bytes& b = *static_cast<const Bytes*>(context);
          if (offset > b.size() || size > b.size() - offset) return false;
          std::copy(b.begin() + offset, b.begin() + offset + size, buffer);
          return true;
        },
        const_cast<Bytes*>(&bytes), static_cast<std::uint32_t>(bytes.size()), fields));
    return fields;
  };
  const std::uint32_t table = fieldsOf(nested).tableOffset;  // the package ends there: no padding
  // A byte of the package changed, with its checksum word (its last 4 bytes) changed along.
  const auto resealed = [&](Bytes bytes, std::uint32_t at) {
    bytes[at] ^= 0x40;
    const std::uint32_t delta = (bytes[at] - (bytes[at] ^ 0x40u)) << (8 * (at % 4));
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | bytes[table - 4 + i];
    word += delta;
    for (int i = 0; i < 4; ++i) bytes[table - 4 + i] = static_cast<std::uint8_t>(word >> (8 * i));
    return bytes;
  };
  const auto changed = [](Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  // The nested signature's image digest: its 20 bytes follow the second "04 14" of the table.
  std::size_t nestedDigest = 0;
  for (std::size_t at = table, seen = 0; at + 1 < nested.size() && seen < 2; ++at) {
    if (nested[at] == 0x04 && nested[at + 1] == 0x14 && ++seen == 2) nestedDigest = at + 2;
  }
  ASSERT_NE(nestedDigest, 0u);

  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    const char* reason;  // in the refusal
    const char* lines;   // on standard output
  };
  const Case cases[] = {
      {"nested, as signed", nested, 3, "has no version block", ""},
      {"timestamped, as signed", timestamped, 3, "has no version block", ""},
      {"a payload byte changed, the checksum recomputed", resealed(nested, table - 30), 2,
       "the signature does not match the package",
       "signature 1: CN=Throwaway test signer, O=Qor Tests: SHA-256, no timestamp, does not match\n"
       "signature 2, nested in 1: CN=Throwaway test signer, O=Qor Tests: SHA-1, no timestamp, does not match\n"},
      {"the nested signature's digest changed", changed(nested, nestedDigest, nested[nestedDigest] ^ 1), 2,
       "the signature does not match the package",
       "signature 1: CN=Throwaway test signer, O=Qor Tests: SHA-256, no timestamp, matches\n"
       "signature 2, nested in 1: CN=Throwaway test signer, O=Qor Tests: SHA-1, no timestamp, does not match\n"},
      // A timestamp vouches for the signing time, not for the package: its bytes are not checked.
      {"a byte of the timestamp changed", changed(timestamped, timestamped.size() - 20, 0), 3, "has no version block",
       ""},
      {"the table's revision changed", changed(nested, table + 5, 0x03), 2, "the certificate table is damaged", ""},
      {"the table holds a certificate only", changed(nested, table + 6, 1), 2,
       "the certificate table holds no signature", ""},
  };
  for (const Case& c : cases) {
    const fs::path package = Write("signed.exe", c.bytes);
    const Outcome run = Qorpack("verify '" + package.string() + "'", kScratch / "temp");
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_NE(run.err.find("error code " + std::to_string(c.code) + ": "), std::string::npos) << c.name << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.name << ": " << run.err;
    EXPECT_EQ(run.out, c.lines) << c.name;

    // The installer's check, its digest on a thread reading a second handle (and, without one, in
    // line), gives qorpack's verdict and facts; one dropped unasked stops its thread.
    platform::File file;
    ASSERT_TRUE(platform::OpenFile(package.c_str(), platform::OpenMode::ReadShared, file)) << c.name;
    PackageExtent extent;
    std::vector<SignatureFacts> facts;
    const Failure verify = VerifyPackageAndSignatures(file, extent, facts);
    for (const bool threaded : {true, false}) {
      platform::File second;
      if (threaded) {
        ASSERT_TRUE(platform::OpenFile(package.c_str(), platform::OpenMode::ReadShared, second));
      }
      OwnSignatureCheck check;
      const Failure begun = check.Begin(file, std::move(second), extent);
      const Failure verdict = begun ? begun : check.Finish();
      EXPECT_EQ(verdict.code, verify.code) << c.name << (threaded ? ", threaded" : "");
      EXPECT_EQ(verdict.reason, verify.reason) << c.name << (threaded ? ", threaded" : "");
      EXPECT_EQ(check.Finish().reason, verify.reason) << c.name << ": asked again";
      ASSERT_EQ(check.facts().size(), facts.size()) << c.name;
      for (std::size_t i = 0; i < facts.size(); ++i) {
        EXPECT_EQ(DescribeSignatureFacts(check.facts()[i]), DescribeSignatureFacts(facts[i])) << c.name;
        EXPECT_EQ(check.facts()[i].depth, facts[i].depth) << c.name;
      }
    }
    platform::File second;
    ASSERT_TRUE(platform::OpenFile(package.c_str(), platform::OpenMode::ReadShared, second));
    OwnSignatureCheck dropped;
    dropped.Begin(file, std::move(second), extent);
  }
}

}  // namespace
