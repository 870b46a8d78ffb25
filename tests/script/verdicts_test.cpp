// One verdict for every script, natively: CheckSetupScript's reason, the same refusal from
// qorpack verify on a package that carries the script, and from the builder on a packing list that
// would make it, which then writes nothing; qorpack list and extract, which show and unpack what a
// refused script's files are, refuse exactly the file lists the check refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "builder/builder.h"
#include "script/printable.h"
#include "script/script_check.h"
#include "tests/builder/pe_image.h"
#include "tests/installer/test_package.h"
#include "verdict_cases.h"

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const testpkg::Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs `command` with standard error captured; returns the exit status.
int RunCommand(const std::string& command, std::string& errors) {
  const std::string line = command + " 2>&1 >/dev/null";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return -1;
  errors.clear();
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) errors += buffer;
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Verdicts : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::path(::testing::TempDir()) / ("qor_verdicts_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path old_, dir_;
};

TEST_F(Verdicts, CheckVerifyAndBuildAgree) {
  pe_test::ImageSpec versioned;
  versioned.languages[0].versionMS = 0x00010002;
  const testpkg::Bytes program = pe_test::MakeImage(versioned);
  testpkg::Bytes stub = pe_test::MakeImage(pe_test::ImageSpec());
  testpkg::Append(stub, reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize);
  WriteFile("stub.exe", stub);

  for (const verdicts::Case& c : verdicts::Cases()) {
    SCOPED_TRACE(c.name);
    const auto source = [](std::size_t i) { return "s" + std::to_string(i); };
    const std::string script = verdicts::Script(c, source);
    InstallPlan plan;
    const Failure failure = CheckSetupScript(SetupScript(script), plan);
    EXPECT_EQ(failure.reason, c.reason);
    EXPECT_EQ(failure.code, c.reason[0] == '\0' ? 0 : kFatalScript);

    // qorpack verify on a package that carries the script.
    std::vector<testpkg::Piece> files;
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      files.push_back({verdicts::EntryBytes(c, i, program), 1});
    }
    WriteFile("carried.exe", testpkg::Compose(stub, {testpkg::ToBytes(script), 1}, files));
    std::string errors;
    const int status = RunCommand(std::string("'") + QOR_QORPACK + "' verify carried.exe", errors);
    if (c.reason[0] == '\0') {
      EXPECT_EQ(status, 0) << errors;
    } else {
      EXPECT_EQ(status, 1);
      // qorpack shows the bytes 80-9F escaped: some terminals obey them.
      EXPECT_EQ(errors, "qorpack: the installer refuses this package: error code 4: " + EscapeControls(c.reason) + "\n");
    }

    // qorpack list and extract: a refused file list is refused with the same reason; a script
    // refused for its command is still listed (with the verdict as a note) and extracted.
    std::vector<PlannedFile> planned;
    const Failure fileList = CheckPayloadList(SetupScript(script), planned);
    for (const std::string command : {"list carried.exe", "extract carried.exe unpacked"}) {
      fs::remove_all("unpacked");
      const std::string line = std::string("'") + QOR_QORPACK + "' " + command;
      const int listed = RunCommand(line, errors);
      if (fileList) {
        EXPECT_EQ(listed, 1) << command;
        // The last line: extract may note first that the script's stored time could not be kept.
        const std::string refusal = "qorpack: the script is refused: " + EscapeControls(fileList.reason) + "\n";
        EXPECT_TRUE(errors.size() >= refusal.size() && errors.compare(errors.size() - refusal.size(), refusal.size(),
                                                                       refusal) == 0)
            << command << ": " << errors;
      } else {
        EXPECT_EQ(listed, 0) << command << ": " << errors;
        EXPECT_EQ(fs::exists("unpacked"), command.rfind("extract", 0) == 0);
      }
    }
    if (!fileList && c.reason[0] != '\0') {
      FILE* pipe = popen((std::string("'") + QOR_QORPACK + "' list carried.exe").c_str(), "r");
      std::string listing;
      char buffer[512];
      while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) listing += buffer;
      if (pipe != nullptr) pclose(pipe);
      EXPECT_NE(listing.find("note: the installer refuses this script: " + EscapeControls(c.reason) + "\n"),
                std::string::npos)
          << listing;
    }

    // The builder on the packing list: refused before the output exists.
    for (std::size_t i = 0; i < files.size(); ++i) WriteFile(source(i), files[i].data);
    std::ofstream("list.ini", std::ios::binary) << script << "[In]\r\nQorFileName=stub.exe\r\n";
    fs::remove("verdict.exe");
    const std::int32_t built = BuildPackage("/m list.ini", BuildOptions());
    if (c.reason[0] == '\0') {
      EXPECT_EQ(built, 0) << ReadFile("logfile.txt");
      EXPECT_TRUE(fs::exists("verdict.exe"));
    } else {
      EXPECT_EQ(built, -1);
      EXPECT_EQ(ReadFile("logfile.txt"), verdicts::BuildLogLine(c));
      EXPECT_FALSE(fs::exists("verdict.exe"));
    }
  }
}

}  // namespace
