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

// The entries of a held folder, by their names: identified as IdentifyOpenFile identifies them,
// and removed only while the name still leads to the same file.
TEST(PrivateFolder, EntriesRemovedByTheirIdentityOnly) {
  char temp[platform::kPathCapacity];
  ASSERT_TRUE(platform::TempDirectory(temp));
  char directory[platform::kPathCapacity];
  platform::File held;
  ASSERT_TRUE(platform::CreatePrivateDirectory(temp, directory, held));
  platform::FileIdentity folder;
  ASSERT_TRUE(platform::IdentifyOpenFile(held, folder));
  const struct {
    const char* what;
    // Done to the entry at `path` after it was created, identified and closed.
    std::function<void(const std::string& path)> meanwhile;
    bool removed;       // the removal succeeds
    bool foreign;       // it refuses the name as another file's (kErrorLink)
    bool entryStays;    // something stands at the name afterwards
  } cases[] = {
      {"nothing", [](const std::string&) {}, true, false, false},
      // Moved, not deleted: a file system may give a new file the number of one just deleted.
      {"moved away and another file created at its name",
       [](const std::string& path) {
         std::rename(path.c_str(), (path + "-moved").c_str());
         platform::File other;
         platform::CreateFileExact(path.c_str(), true, other);
       },
       false, true, true},
      {"deleted", [](const std::string& path) { platform::RemoveFile(path.c_str()); }, false, false, false},
  };
  for (const auto& c : cases) {
    const std::string path = std::string(directory) + "entry.bin";
    platform::FileIdentity identity, full;
    {
      platform::File file;
      ASSERT_TRUE(platform::CreateFileExact(path.c_str(), true, file)) << c.what;
      ASSERT_TRUE(platform::IdentifyEntry(folder, file, identity)) << c.what;
      ASSERT_TRUE(platform::IdentifyOpenFile(file, full)) << c.what;
    }
    EXPECT_TRUE(identity == full) << c.what;
    c.meanwhile(path);
    const platform::Status removed = platform::RemoveEntryIfSame(held, folder, "entry.bin", identity);
    EXPECT_EQ(!!removed, c.removed) << c.what;
    EXPECT_EQ(!removed && removed.error() == platform::kErrorLink, c.foreign) << c.what;
    EXPECT_EQ(Exists(path), c.entryStays) << c.what;
    platform::RemoveFile(path.c_str());
    platform::RemoveFile((path + "-moved").c_str());
  }
  held.Close();
  EXPECT_TRUE(platform::RemoveFolder(WithoutSeparator(directory).c_str()));
}

}  // namespace
