// The installer page's progress during extraction: from 25 where the payload begins towards 50 at
// the package's end, whatever lies in front of the payload and however large the package.
#include <gtest/gtest.h>

#include "installer/dialog.h"

namespace {

TEST(ExtractionPosition, CountsOnlyThePayloadBehindStubAndScript) {
  // A 200 000-byte stub and script in front of 100 000 payload bytes.
  const std::uint32_t start = 200000, total = 300000;
  EXPECT_EQ(ExtractionPosition(start, start, total), 25);
  EXPECT_EQ(ExtractionPosition(start + 50000, start, total), 37);
  EXPECT_EQ(ExtractionPosition(start + 99999, start, total), 49);
  EXPECT_EQ(ExtractionPosition(total, start, total), 50);
}

TEST(ExtractionPosition, HoldsOutOfRangeOffsetsAtTheEnds) {
  EXPECT_EQ(ExtractionPosition(0, 1000, 5000), 25);
  EXPECT_EQ(ExtractionPosition(9000, 1000, 5000), 50);
  EXPECT_EQ(ExtractionPosition(7, 5000, 5000), 25);   // no payload bytes at all
  EXPECT_EQ(ExtractionPosition(7, 6000, 5000), 25);
}

TEST(ExtractionPosition, LargePackagesDoNotOverflow) {
  const std::uint32_t total = 0xFFFFFFF0u;
  EXPECT_EQ(ExtractionPosition(total / 2, 0, total), 37);
  EXPECT_EQ(ExtractionPosition(total - 1, 16, total), 49);
}

}  // namespace
