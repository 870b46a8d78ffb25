// The table of what another process plants at a record's name (hostile_packages.h), natively: the
// installer's own run, which here fails at once (this test program is no package) and so writes
// its failure line, or refuses its /log FILE. The record is never written through the plant, and
// the reason of a refused /log FILE (or of a /log without one) reaches the failure line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "installer/installer.h"
#include "tests/installer/hostile_packages.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Records, NothingIsWrittenThroughWhatAnotherProcessPlants) {
  const fs::path scratch = fs::path(::testing::TempDir()) / ("qor_records_" + std::to_string(getpid()));
  const char* oldTemp = std::getenv("TMPDIR");
  const std::string savedTemp = oldTemp != nullptr ? oldTemp : "";
  for (const hostile::RecordCase& c : hostile::RecordCases()) {
    SCOPED_TRACE(c.name);
    fs::remove_all(scratch);
    const fs::path temp = scratch / "temp", logs = scratch / "logs";
    fs::create_directories(temp);
    fs::create_directories(logs);
    const fs::path other = scratch / "other.txt", absent = scratch / "created-through-the-link.txt";
    std::ofstream(other) << "someone else's";
    const fs::path record = c.record == hostile::Record::FailureLine ? temp / "QorEngineUpdate.log" : logs / "my.log";
    switch (c.plant) {
      case hostile::Plant::HardLink: fs::create_hard_link(other, record); break;
      case hostile::Plant::Symlink: fs::create_symlink(other, record); break;
      case hostile::Plant::DanglingLink: fs::create_symlink(absent, record); break;
      case hostile::Plant::Folder: fs::create_directory(record); break;
    }
    const fs::file_status planted = fs::symlink_status(record);

    setenv("TMPDIR", temp.c_str(), 1);
    const bool logOption = c.record == hostile::Record::LogOption;
    EXPECT_EQ(Installer(1, nullptr, logOption ? record.c_str() : nullptr), -1);

    EXPECT_EQ(ReadText(other), "someone else's");
    EXPECT_FALSE(fs::exists(absent));
    EXPECT_EQ(fs::symlink_status(record).type(), planted.type());
    if (logOption) {
      // The run never started; the failure line says why, where the caller of a silent run looks.
      const std::string line = ReadText(temp / "QorEngineUpdate.log");
      EXPECT_NE(line.find("\terror code 3: the log file cannot be created: " + record.string() + ": "),
                std::string::npos)
          << line;
    }
  }
  // A /log that names no file is refused the same way.
  fs::remove_all(scratch / "temp");
  fs::create_directories(scratch / "temp");
  EXPECT_EQ(Installer(1, nullptr, ""), -1);
  EXPECT_NE(ReadText(scratch / "temp" / "QorEngineUpdate.log").find("\terror code 3: the /log option names no file\r\n"),
            std::string::npos);
  if (oldTemp != nullptr) {
    setenv("TMPDIR", savedTemp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  fs::remove_all(scratch);
}

}  // namespace
