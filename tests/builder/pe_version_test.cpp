// The PE version reader on made images (every branch of the resource walk), and on real PE files
// against what the platform reports: under Wine that is version.dll, so both readers must agree.
#include "platform/pe_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "builder/version.h"
#include "pe_image.h"

namespace {

using platform::VersionBlock;
using pe_test::ImageSpec;
using pe_test::MakeImage;
using pe_test::VersionResource;

struct Read {
  VersionBlock block;
  std::uint32_t ms = 0xAAAAAAAAu;
  std::uint32_t ls = 0xAAAAAAAAu;
};

Read ReadImage(const pe_test::Bytes& image) {
  Read r;
  r.block = ReadPeFileVersion(image.data(), static_cast<std::uint32_t>(image.size()), r.ms, r.ls);
  return r;
}

VersionResource Version(std::uint32_t language, std::uint32_t ms, std::uint32_t ls) {
  VersionResource v;
  v.language = language;
  v.versionMS = ms;
  v.versionLS = ls;
  return v;
}

TEST(PeVersionTest, ReadsTheFixedFileVersionOf32And64BitImages) {
  for (const bool wide : {false, true}) {
    ImageSpec spec;
    spec.wide = wide;
    spec.languages = {Version(0x409, 0x00020001, 0x00040000)};
    const Read r = ReadImage(MakeImage(spec));
    EXPECT_EQ(r.block, VersionBlock::Fixed);
    EXPECT_EQ(r.ms, 0x00020001u);
    EXPECT_EQ(r.ls, 0x00040000u);
  }
}

TEST(PeVersionTest, PicksTheLanguageAsTheLoaderDoes) {
  ImageSpec spec;
  spec.languages = {Version(0x407, 1, 1), Version(0x409, 2, 2), Version(0, 3, 3)};
  EXPECT_EQ(ReadImage(MakeImage(spec)).ms, 3u);  // neutral first
  spec.languages = {Version(0x407, 1, 1), Version(0x409, 2, 2)};
  EXPECT_EQ(ReadImage(MakeImage(spec)).ms, 2u);  // then US English
  spec.languages = {Version(0x407, 1, 1), Version(0x40C, 2, 2)};
  EXPECT_EQ(ReadImage(MakeImage(spec)).ms, 1u);  // then the first one
}

TEST(PeVersionTest, ABlockWithoutFixedPartStoresNothing) {
  ImageSpec spec;
  spec.languages[0].valueLength = 0;
  Read r = ReadImage(MakeImage(spec));
  EXPECT_EQ(r.block, VersionBlock::NoFixedPart);
  EXPECT_EQ(r.ms, 0xAAAAAAAAu);
  spec.languages[0].valueLength = 52;
  spec.languages[0].signature = 0x12345678;
  r = ReadImage(MakeImage(spec));
  EXPECT_EQ(r.block, VersionBlock::NoFixedPart);
  EXPECT_EQ(r.ls, 0xAAAAAAAAu);
}

TEST(PeVersionTest, NoVersionResourceGivesNone) {
  ImageSpec other;
  other.resourceType = 3;  // icons only
  EXPECT_EQ(ReadImage(MakeImage(other)).block, VersionBlock::None);
  ImageSpec renamed;
  renamed.resourceName = 2;
  EXPECT_EQ(ReadImage(MakeImage(renamed)).block, VersionBlock::None);
  EXPECT_EQ(ReadImage(pe_test::Bytes{'M', 'Z'}).block, VersionBlock::None);
  EXPECT_EQ(ReadImage(pe_test::Bytes(4096, 0)).block, VersionBlock::None);
}

TEST(PeVersionTest, EveryTruncationIsRefusedWithoutReadingPastTheEnd) {
  ImageSpec spec;
  spec.languages = {Version(0x409, 0x00050002, 0x001E01F5)};
  const pe_test::Bytes image = MakeImage(spec);
  // Every cut before the end of the fixed part (signature BD 04 EF FE, 52 bytes) loses the version;
  // the sanitizer build turns any read past a cut image into a failure.
  const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
  const auto at = std::search(image.begin(), image.end(), signature, signature + 4);
  ASSERT_NE(at, image.end());
  const std::size_t end = static_cast<std::size_t>(at - image.begin()) + 52;
  for (std::size_t size = 0; size < end; ++size) {
    const pe_test::Bytes cut(image.begin(), image.begin() + size);
    EXPECT_NE(ReadImage(cut).block, VersionBlock::Fixed) << size;
  }
  EXPECT_EQ(ReadImage(image).block, VersionBlock::Fixed);
}

// Real PE files: the i386 DLLs of Wine, and the test executables built with a version block.
std::vector<std::string> RealPeFiles() {
  std::vector<std::string> files;
#ifdef QOR_VERSIONED_DIR
  files.push_back(QOR_VERSIONED_DIR "/versioned_2140.exe");
  files.push_back(QOR_VERSIONED_DIR "/versioned_5230501.exe");
#endif
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(QOR_WINE_DLL_DIR, error)) {
    const std::string name = entry.path().string();
    const std::string extension = entry.path().extension().string();
    if (extension == ".dll" || extension == ".exe") files.push_back(name);
  }
  return files;
}

struct FileReader {
  std::FILE* file;
};

bool ReadFromStdio(void* source, std::uint32_t offset, void* buffer, std::uint32_t size) {
  std::FILE* f = static_cast<FileReader*>(source)->file;
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, f) == size;
}

TEST(PeVersionTest, AgreesWithThePlatformOnRealFiles) {
  const std::vector<std::string> files = RealPeFiles();
  if (files.empty()) GTEST_SKIP() << "no PE files found under " << QOR_WINE_DLL_DIR;
  int fixed = 0;
  for (const std::string& path : files) {
    std::uint32_t platformMS = 0, platformLS = 0, ownMS = 0, ownLS = 0;
    const VersionBlock byPlatform = platform::ReadFixedFileVersion(path.c_str(), platformMS, platformLS);
    FileReader reader{std::fopen(path.c_str(), "rb")};
    ASSERT_NE(reader.file, nullptr) << path;
    std::fseek(reader.file, 0, SEEK_END);
    const auto size = static_cast<std::uint32_t>(std::ftell(reader.file));
    const VersionBlock own = ReadPeFileVersion(ReadFromStdio, &reader, size, ownMS, ownLS);
    std::fclose(reader.file);
    EXPECT_EQ(byPlatform, own) << path;
    if (own == VersionBlock::Fixed && byPlatform == VersionBlock::Fixed) {
      ++fixed;
      EXPECT_EQ(platformMS, ownMS) << path;
      EXPECT_EQ(platformLS, ownLS) << path;
    }
  }
  EXPECT_GT(fixed, 0);
}

#ifdef QOR_VERSIONED_DIR
TEST(PeVersionTest, ReadFileVersionOfBuiltExecutables) {
  std::uint32_t major = 9, minor = 9, build = 9, revision = 9;
  ASSERT_EQ(ReadFileVersion(QOR_VERSIONED_DIR "/versioned_5230501.exe", &major, &minor, &build, &revision), 1);
  EXPECT_EQ(major, 5u);
  EXPECT_EQ(minor, 2u);
  EXPECT_EQ(build, 30u);
  EXPECT_EQ(revision, 501u);
  // Null parts are allowed and left alone.
  major = 0;
  ASSERT_EQ(ReadFileVersion(QOR_VERSIONED_DIR "/versioned_2140.exe", &major, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(major, 2u);
  EXPECT_EQ(ReadFileVersion(QOR_VERSIONED_DIR "/no_such_file.exe", &major, nullptr, nullptr, nullptr), 0);
}
#endif

}  // namespace
