// The fixed code tables: each is rebuilt from its bit lengths by the canonical-code rule, so a
// mistyped value cannot hide in the 336 rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "codec/implode_format.h"

namespace {

// Canonical codes counting up from zero in (length, index) order, each inverted and sent from its
// most significant bit; returns the values with the first bit sent in bit 0.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<std::uint32_t>& lengths) {
  std::vector<std::uint32_t> order(lengths.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return lengths[a] < lengths[b]; });
  std::vector<std::uint32_t> values(lengths.size());
  std::uint32_t code = 0;
  std::uint32_t previous = lengths[order[0]];
  for (std::size_t rank = 0; rank < order.size(); ++rank) {
    const std::uint32_t length = lengths[order[rank]];
    if (rank > 0) code = (code + 1) << (length - previous);
    previous = length;
    const std::uint32_t inverted = ~code & ((1u << length) - 1);
    std::uint32_t value = 0;
    for (std::uint32_t k = 0; k < length; ++k) value |= ((inverted >> (length - 1 - k)) & 1) << k;
    values[order[rank]] = value;
  }
  return values;
}

// A complete prefix code: the lengths fill the code space exactly (Kraft sum 1).
double KraftSum(const std::vector<std::uint32_t>& lengths) {
  double sum = 0;
  for (std::uint32_t length : lengths) sum += 1.0 / static_cast<double>(1u << length);
  return sum;
}

template <typename Row, std::size_t N>
std::vector<std::uint32_t> Lengths(const Row (&rows)[N]) {
  std::vector<std::uint32_t> lengths;
  for (const Row& row : rows) lengths.push_back(row.bits);
  return lengths;
}

template <typename Row, std::size_t N>
void ExpectCanonical(const Row (&rows)[N]) {
  const auto lengths = Lengths(rows);
  EXPECT_DOUBLE_EQ(KraftSum(lengths), 1.0);
  const auto expected = CanonicalCodes(lengths);
  for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(rows[i].value, expected[i]) << "row " << i;
}

TEST(CodeTables, LengthCodesFollowTheCanonicalRule) {
  ExpectCanonical(LengthCodes);
  // Stream order of code 1 is 11, of code 15 seven zeros.
  EXPECT_EQ(LengthCodes[1].value, 0x03);
  EXPECT_EQ(LengthCodes[15].value, 0x00);
}

TEST(CodeTables, LengthRangesAreContiguousUpToTheEndCode) {
  std::uint32_t next = 0;
  for (const LengthCode& row : LengthCodes) {
    EXPECT_EQ(row.base, next);
    next = row.base + (1u << row.extraBits);
  }
  EXPECT_EQ(next - 1, kEndCodeValue);  // the last value of code 15 is the end code
  EXPECT_EQ(LengthCodes[15].base + 2u, 264u);
}

TEST(CodeTables, DistanceCodesFollowTheCanonicalRule) {
  ExpectCanonical(DistanceCodes);
  const std::vector<std::uint32_t> expectedLengths = [] {
    std::vector<std::uint32_t> lengths(64);
    for (std::uint32_t part = 0; part < 64; ++part) {
      lengths[part] = part == 0 ? 2 : part <= 2 ? 4 : part <= 6 ? 5 : part <= 21 ? 6 : part <= 47 ? 7 : 8;
    }
    return lengths;
  }();
  EXPECT_EQ(Lengths(DistanceCodes), expectedLengths);
  EXPECT_EQ(DistanceCodes[63].value, 0x00);
}

TEST(CodeTables, AsciiLiteralCodesFollowTheCanonicalRule) {
  ExpectCanonical(AsciiLiteralCodes);
  // Codes that the format names explicitly.
  EXPECT_EQ(AsciiLiteralCodes[0x20].bits, 4);
  EXPECT_EQ(AsciiLiteralCodes[0x20].value, 0x000F);
  EXPECT_EQ(AsciiLiteralCodes[0x65].bits, 5);
  EXPECT_EQ(AsciiLiteralCodes[0x65].value, 0x001B);
  EXPECT_EQ(AsciiLiteralCodes[0x0A].value, 0x0062);
  EXPECT_EQ(AsciiLiteralCodes[0x0D].value, 0x0022);
  EXPECT_EQ(AsciiLiteralCodes[0x00].value, 0x0490);
  EXPECT_EQ(AsciiLiteralCodes[0x1A].bits, 13);
  EXPECT_EQ(AsciiLiteralCodes[0x1A].value, 0x1240);
  EXPECT_EQ(AsciiLiteralCodes[0xFF].bits, 13);
  EXPECT_EQ(AsciiLiteralCodes[0xFF].value, 0x0000);
}

TEST(CodeTables, AsciiBitLengthsStayWithinWhatTheDecoderLooksUp) {
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const std::uint32_t bits = AsciiLiteralCodes[byte].bits;
    const std::uint32_t value = AsciiLiteralCodes[byte].value;
    ASSERT_GE(bits, 4u);
    ASSERT_LE(bits, 13u);
    // After the bits the first lookup identifies are dropped, the rest fits the next lookup.
    if (bits > 8 && (value & 0xFF) != 0 && (value & 0x3F) != 0) {
      EXPECT_LE(bits - 4, 8u) << byte;
    }
    if (bits > 8 && (value & 0xFF) != 0 && (value & 0x3F) == 0) {
      EXPECT_LE(bits - 6, 7u) << byte;
    }
    if (bits > 8 && (value & 0xFF) == 0) {
      EXPECT_LE(bits - 8, 8u) << byte;
    }
  }
}

}  // namespace
