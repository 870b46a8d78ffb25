// SOURCE_DATE_EPOCH's values: which are taken, as which file time, and how a stored time is capped.
#include <gtest/gtest.h>

#include "builder/source_date.h"

namespace {

constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;  // 100-ns ticks from 1601 to 1970

struct EpochCase {
  const char* text;
  bool taken;
  std::uint64_t fileTime;  // when taken
};

TEST(SourceDateEpoch, ParsesOnlyWholeSecondsInRange) {
  const EpochCase cases[] = {
      {"0", true, kTicksTo1970},
      {"1700000000", true, kTicksTo1970 + 1700000000ull * 10000000ull},
      {"0001700000000", false, 0},  // 13 digits, whatever their value
      {"253402300799", true, kTicksTo1970 + 253402300799ull * 10000000ull},
      {"253402300800", false, 0},
      {"999999999999", false, 0},
      {"", false, 0},
      {" 1700000000", false, 0},
      {"1700000000 ", false, 0},
      {"+1700000000", false, 0},
      {"-1", false, 0},
      {"1.5", false, 0},
      {"0x10", false, 0},
      {"18446744073709551617", false, 0},  // would wrap a 64-bit count
  };
  for (const EpochCase& c : cases) {
    TimeLimit limit;
    EXPECT_EQ(ParseSourceDateEpoch(c.text, limit), c.taken) << '"' << c.text << '"';
    EXPECT_EQ(limit.set, c.taken) << '"' << c.text << '"';
    if (c.taken) {
      EXPECT_EQ(limit.fileTime, c.fileTime) << '"' << c.text << '"';
    }
  }
}

TEST(SourceDateEpoch, CapsOnlyLaterTimes) {
  TimeLimit limit;
  ASSERT_TRUE(ParseSourceDateEpoch("1700000000", limit));
  const std::uint64_t at = limit.fileTime;
  EXPECT_EQ(LimitedTime(limit, at + 1), at);
  EXPECT_EQ(LimitedTime(limit, ~0ull), at);
  EXPECT_EQ(LimitedTime(limit, at), at);
  EXPECT_EQ(LimitedTime(limit, at - 1), at - 1);
  EXPECT_EQ(LimitedTime(limit, 0), 0u);
  EXPECT_EQ(LimitedTime(TimeLimit(), ~0ull), ~0ull);  // no limit
}

}  // namespace
