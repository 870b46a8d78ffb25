// The version tag and the stamped output name.
#include "builder/version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Tag(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint32_t revision) {
  char tag[kVersionTagCapacity];
  VersionTag(FileVersion{major, minor, build, revision}, tag);
  return tag;
}

TEST(VersionTagTest, FormatsPartsAndRevisionLetter) {
  EXPECT_EQ(Tag(1, 0, 0, 0), "1_00_00a");
  EXPECT_EQ(Tag(2, 1, 4, 0), "2_01_04a");
  EXPECT_EQ(Tag(5, 2, 30, 501), "5_02_30b");
  EXPECT_EQ(Tag(1, 2, 123, 25), "1_02_123z");
  EXPECT_EQ(Tag(1, 2, 7, 525), "1_02_07z");
  EXPECT_EQ(Tag(1, 2, 7, 500), "1_02_07a");
  EXPECT_EQ(Tag(65535, 65535, 65535, 65535), "65535_65535_65535" + std::string(1, RevisionLetter(65535)));
}

TEST(VersionTagTest, EveryRevisionGivesALowerCaseLetter) {
  // Outside 0-25 and 500-525 the letter wraps within its range: no character a file name cannot hold.
  for (std::uint32_t revision = 0; revision <= 0xFFFF; ++revision) {
    const char letter = RevisionLetter(revision);
    ASSERT_TRUE(letter >= 'a' && letter <= 'z') << revision;
  }
  EXPECT_EQ(RevisionLetter(26), 'a');
  EXPECT_EQ(RevisionLetter(27), 'b');
  EXPECT_EQ(RevisionLetter(499), 'f');
  EXPECT_EQ(RevisionLetter(526), 'a');
}

std::string Stamp(const char* name, StampResult expected = StampResult::Ok) {
  char stamped[platform::kPathCapacity];
  EXPECT_EQ(StampOutputName(name, FileVersion{2, 1, 4, 0}, stamped), expected) << name;
  return stamped;
}

TEST(StampOutputNameTest, ReplacesTheFirstPercentSOnly) {
  EXPECT_EQ(Stamp("out\\setup%s.exe"), "out\\setup2_01_04a.exe");
  EXPECT_EQ(Stamp("setup.exe"), "setup.exe");
  EXPECT_EQ(Stamp("100%%\\setup%s.exe"), "100%\\setup2_01_04a.exe");
  EXPECT_EQ(Stamp("%%s.exe"), "%s.exe");
}

TEST(StampOutputNameTest, RefusesEveryOtherPercent) {
  for (const char* name : {"setup%d.exe", "setup%s%s.exe", "setup%", "%n", "a%x%s", "50% off %s.exe"}) {
    EXPECT_EQ(Stamp(name, StampResult::BadPercent), "") << name;
  }
}

TEST(StampOutputNameTest, RefusesNamesThatOutgrowAPath) {
  // 251 characters and the 8-character tag: 259 fit, one more does not.
  const std::string fits = std::string(251, 'a');
  EXPECT_EQ(Stamp((fits + "%s").c_str()).size(), 259u);
  EXPECT_EQ(Stamp((fits + "x%s").c_str(), StampResult::TooLong), "");
  EXPECT_EQ(Stamp(std::string(259, 'b').c_str()).size(), 259u);
}

}  // namespace
