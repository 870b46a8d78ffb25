// The run's private folder through the platform layer on both hosts: created and held, then removed
// by its identity only, whatever another process did at its path meanwhile.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace {

#ifdef _WIN32
// A folder held open without delete sharing cannot be renamed on Windows; a POSIX descriptor keeps
// only the folder's identity.
constexpr bool kHeldFolderStays = true;
#else
constexpr bool kHeldFolderStays = false;
#endif

std::string WithoutSeparator(std::string path) {
  path.pop_back();
  return path;
}

bool Exists(const std::string& path) { return platform::KindOfFile(path.c_str()) != platform::FileKind::Missing; }

TEST(PrivateFolder, RemovedByItsIdentityOnly) {
  char temp[platform::kPathCapacity];
  ASSERT_TRUE(platform::TempDirectory(temp));
  const struct {
    const char* what;
    // Done to the folder (`path`, without separator) after its handle is closed; true once done.
    std::function<bool(const std::string& path)> meanwhile;
    bool removed;       // the removal succeeds
    bool foreignStays;  // something not this run's stands at the path afterwards
  } cases[] = {
      {"nothing", [](const std::string&) { return true; }, true, false},
      {"a file left in it",
       [](const std::string& path) {
         platform::File file;
         return !!platform::CreateFileExact((path + "/left.txt").c_str(), true, file);
       },
       false, true},
      {"moved away and another folder put at its path",
       [](const std::string& path) {
         return std::rename(path.c_str(), (path + "-moved").c_str()) == 0 && platform::MakeDirectory(path.c_str());
       },
       false, true},
  };
  for (const auto& c : cases) {
    char directory[platform::kPathCapacity];
    platform::File held;
    ASSERT_TRUE(platform::CreatePrivateDirectory(temp, directory, held)) << c.what;
    const std::string path = WithoutSeparator(directory);
    platform::FileIdentity identity;
    ASSERT_TRUE(platform::IdentifyOpenFile(held, identity)) << c.what;
    // While it is held.
    const bool renamed = std::rename(path.c_str(), (path + "-renamed").c_str()) == 0;
    EXPECT_EQ(renamed, !kHeldFolderStays) << c.what;
    if (renamed) {
      ASSERT_EQ(std::rename((path + "-renamed").c_str(), path.c_str()), 0) << c.what;
    }

    held.Close();
    ASSERT_TRUE(c.meanwhile(path)) << c.what;
    const platform::Status removed = platform::RemoveFileIfSame(path.c_str(), identity);
    EXPECT_EQ(!!removed, c.removed) << c.what;
    EXPECT_EQ(Exists(path), c.foreignStays) << c.what;
    // Tidy up what the case left.
    platform::RemoveFile((path + "/left.txt").c_str());
    platform::RemoveFolder(path.c_str());
    platform::RemoveFolder((path + "-moved").c_str());
  }
}

}  // namespace
