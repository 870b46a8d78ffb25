// The encoder: the exact streams its rules fix for small and crafted inputs, its callback contract,
// and the memory wrapper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/implode.h"
#include "codec_test_support.h"

namespace {

using codec_test::Bytes;
using codec_test::Describe;
using codec_test::FromString;
using codec_test::Implode;
using codec_test::ParseTokens;
using codec_test::Token;
using codec_test::Unrepeating;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The token that starts at output offset `offset`, or a failure if none does.
Token TokenAt(const std::vector<Token>& tokens, std::size_t offset) {
  for (const Token& token : tokens) {
    if (token.offset == offset) return token;
  }
  ADD_FAILURE() << "no token starts at " << offset;
  return {};
}

Token Literal(std::size_t offset, std::uint8_t byte) { return {static_cast<std::uint32_t>(offset), 0, 0, byte}; }
Token Match(std::size_t offset, std::uint32_t length, std::uint32_t distance) {
  return {static_cast<std::uint32_t>(offset), length, distance, 0};
}

TEST(ImplodeExamples, SmallInputs) {
  EXPECT_EQ(Implode({}, 0, 4096), (Bytes{0x00, 0x06, 0x01, 0xFF}));
  EXPECT_EQ(Implode({0x41}, 0, 4096), (Bytes{0x00, 0x06, 0x82, 0x02, 0xFE, 0x01}));
  // Two literals, then a 2-byte match at distance 2: distance 1 is never used.
  EXPECT_EQ(Implode(Bytes(4, 0x41), 0, 4096), (Bytes{0x00, 0x06, 0x82, 0x04, 0xED, 0x05, 0xFC, 0x03}));
}

TEST(ImplodeExamples, RunOfOneByteUsesDistanceTwoAndTheCap) {
  const Bytes stream = Implode(Bytes(1000, 0x61), 0, 4096);
  EXPECT_EQ(stream.size(), 13u);
  const std::vector<Token> expected = {Literal(0, 0x61), Literal(1, 0x61), Match(2, 516, 2), Match(518, 482, 2)};
  EXPECT_EQ(ParseTokens(stream), expected);
}

TEST(ImplodeExamples, HeaderNamesTheSettings) {
  for (std::uint32_t mode : {0u, 1u}) {
    for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
      const Bytes stream = Implode({}, mode, dictionary);
      ASSERT_EQ(stream.size(), 4u);
      EXPECT_EQ(stream[0], mode);
      EXPECT_EQ(stream[1], dictionary == 1024 ? 4 : dictionary == 2048 ? 5 : 6);
    }
  }
}

TEST(ImplodeRules, TwoByteRepeatReachesExactly256Back) {
  // "KL", filler, "KL": with the second pair 256 bytes on it is a match, 257 bytes on two literals.
  for (std::size_t gap : {254u, 255u}) {
    const Bytes input = Concat({FromString("KL"), Unrepeating(gap), FromString("KL"), Unrepeating(40, 3000)});
    const auto tokens = ParseTokens(Implode(input, 0, 4096));
    const std::size_t second = 2 + gap;
    if (gap == 254) {
      EXPECT_EQ(TokenAt(tokens, second), Match(second, 2, 256)) << Describe(TokenAt(tokens, second));
    } else {
      EXPECT_EQ(TokenAt(tokens, second), Literal(second, 'K')) << Describe(TokenAt(tokens, second));
      EXPECT_EQ(TokenAt(tokens, second + 1), Literal(second + 1, 'L'));
    }
  }
}

// At p the bytes "PQR" repeat `nearDistance` back (a 3-byte match); at p + 1 "QRST" or "QRSTU"
// repeat farther back (a 4- or 5-byte match).
Bytes LookAheadInput(std::size_t nearDistance, bool fiveAtNext, std::size_t* p) {
  const Bytes filler = Unrepeating(2000);
  auto slice = [&](std::size_t from, std::size_t length) {
    return Bytes(filler.begin() + static_cast<std::ptrdiff_t>(from),
                 filler.begin() + static_cast<std::ptrdiff_t>(from + length));
  };
  const Bytes head = Concat({slice(0, 40), FromString(fiveAtNext ? "QRSTU" : "QRSTV"), slice(40, 300),
                             FromString("PQRZ")});
  const std::size_t y = head.size() - 4;
  const Bytes input = Concat({head, slice(400, nearDistance - 4), FromString("PQRSTUW"), slice(800, 40)});
  *p = y + nearDistance;
  return input;
}

TEST(ImplodeRules, LookAheadPrefersALongerMatchAtTheNextPosition) {
  std::size_t p;
  // A 5-byte match next: literal, then the 5-byte match, whatever the distance.
  auto tokens = ParseTokens(Implode(LookAheadInput(129, true, &p), 0, 4096));
  EXPECT_EQ(TokenAt(tokens, p), Literal(p, 'P')) << Describe(TokenAt(tokens, p));
  EXPECT_EQ(TokenAt(tokens, p + 1).length, 5u);
  // A 4-byte match next: the 3-byte match is kept when it is at most 129 back...
  tokens = ParseTokens(Implode(LookAheadInput(129, false, &p), 0, 4096));
  EXPECT_EQ(TokenAt(tokens, p), Match(p, 3, 129)) << Describe(TokenAt(tokens, p));
  // ...and given up for a literal and the 4-byte match from 130 back.
  tokens = ParseTokens(Implode(LookAheadInput(130, false, &p), 0, 4096));
  EXPECT_EQ(TokenAt(tokens, p), Literal(p, 'P')) << Describe(TokenAt(tokens, p));
  EXPECT_EQ(TokenAt(tokens, p + 1).length, 4u);
}

TEST(ImplodeRules, NearerCandidateWinsATie) {
  const Bytes input = Concat({FromString("abcQ"), Unrepeating(100), FromString("abcR"), Unrepeating(100, 500),
                              FromString("abcS"), Unrepeating(30, 1000)});
  const std::size_t third = 4 + 100 + 4 + 100;
  const auto tokens = ParseTokens(Implode(input, 0, 4096));
  EXPECT_EQ(TokenAt(tokens, third), Match(third, 3, 104)) << Describe(TokenAt(tokens, third));
}

TEST(ImplodeRules, FarthestCandidateWinsAmongThoseReaching516) {
  const Bytes block = Unrepeating(600);
  const Bytes input = Concat({block, FromString("G"), block, FromString("H"), block});
  const auto tokens = ParseTokens(Implode(input, 0, 4096));
  EXPECT_EQ(TokenAt(tokens, 601), Match(601, 516, 601));
  EXPECT_EQ(TokenAt(tokens, 1202), Match(1202, 516, 1202)) << Describe(TokenAt(tokens, 1202));
}

TEST(ImplodeRules, LongMatchesAreFoundThroughManyPartialCandidates) {
  // Many candidates that match 11 to 40 bytes before the one that matches longest: the long-match
  // search must pick the same (longest, then nearest) one as a full scan.
  const Bytes pattern = Unrepeating(60, 7000);
  Bytes input;
  for (std::size_t cut = 11; cut <= 40; ++cut) {
    input.insert(input.end(), pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(cut));
    input.push_back(static_cast<std::uint8_t>('A' + cut - 11));  // unique separators
  }
  const std::size_t p = input.size();
  input.insert(input.end(), pattern.begin(), pattern.end());
  const auto tokens = ParseTokens(Implode(input, 0, 4096));
  // The candidate that matched 40 bytes starts 41 bytes before p.
  EXPECT_EQ(TokenAt(tokens, p), Match(p, 40, 41)) << Describe(TokenAt(tokens, p));
  EXPECT_EQ(Implode(input, 0, 4096), codec_test::ReferenceImplode(input, 0, 4096));
}

TEST(ImplodeRules, IncompressibleInputCostsNineBitsPerByte) {
  for (std::size_t size : {1u, 7u, 8u, 4095u, 4096u, 9000u}) {
    const Bytes input = Unrepeating(size);
    const Bytes stream = Implode(input, 0, 4096);
    EXPECT_EQ(stream.size(), codec_test::MaxStreamLength(size)) << size;
    for (const Token& token : ParseTokens(stream)) ASSERT_EQ(token.length, 0u) << Describe(token);
  }
}

TEST(ImplodeCallbacks, BadSettingsTouchNoCallback) {
  struct Case {
    std::uint32_t mode, dictionary;
    ImplodeResult result;
  };
  const Case cases[] = {{0, 1000, kImplodeBadDictionary}, {2, 512, kImplodeBadDictionary},
                        {2, 4096, kImplodeBadLiteralMode}, {0xFFFFFFFF, 2048, kImplodeBadLiteralMode}};
  for (const Case& c : cases) {
    auto state = std::make_unique<ImplodeState>();
    int calls = 0;
    auto read = [](std::uint8_t*, std::uint32_t*, void* calls) -> std::uint32_t {
      ++*static_cast<int*>(calls);
      return 0;
    };
    auto write = [](std::uint8_t*, std::uint32_t*, void* calls) { ++*static_cast<int*>(calls); };
    EXPECT_EQ(ImplodeStream(read, write, state.get(), &calls, c.mode, c.dictionary), c.result);
    EXPECT_EQ(calls, 0);
  }
}

TEST(ImplodeState, WhateverTheRecordHoldsTheStreamIsTheSame) {
  // A record full of a byte that would be a position in every link and head, then used again and
  // again: the encoder clears what the coding depends on, and sets every link before reading it.
  // The lengths put the last pass's comparisons past the data, where the window's old contents and
  // the sorted entries are read.
  auto state = std::make_unique<ImplodeState>();
  std::memset(static_cast<void*>(state.get()), 0xA5, sizeof(ImplodeState));
  // The last: "QRSTUVW" ends the input; of its two earlier copies the farther one is followed by
  // zeros, so it wins only when the bytes past the data are the zeros of a cleared window.
  const Bytes inputs[] = {codec_test::Periodic(4096 + 4095, 97, 61), codec_test::TextLike(3 * 4096 + 700, 62),
                          Bytes(9000, 0), codec_test::RandomBytes(5000, 63), codec_test::RunHeavy(4097, 64),
                          FromString("ab"),
                          Concat({FromString("QRSTUVW"), Bytes(20, 0), Unrepeating(300), FromString("QRSTUVWX"),
                                  Unrepeating(300, 1000), FromString("QRSTUVW")})};
  for (const Bytes& input : inputs) {
    for (std::uint32_t mode : {0u, 1u}) {
      for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
        ASSERT_EQ(codec_test::ImplodeWith(*state, input, mode, dictionary), Implode(input, mode, dictionary))
            << input.size() << " bytes, mode " << mode << ", dictionary " << dictionary;
      }
    }
  }
}

TEST(ImplodeCallbacks, OutputLeavesIn2048BytePieces) {
  std::vector<std::uint32_t> pieces;
  const Bytes input = codec_test::RandomBytes(20000, 5);
  const Bytes stream = Implode(input, 0, 4096, 0xFFFFFFFFu, &pieces);
  ASSERT_GE(pieces.size(), 2u);
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_EQ(pieces[i], 2048u);
  EXPECT_LE(pieces.back(), 2048u);
  EXPECT_EQ(stream.size(), 2048u * (pieces.size() - 1) + pieces.back());
}

TEST(ImplodeCallbacks, DeliverySizesDoNotChangeTheStream) {
  const Bytes inputs[] = {codec_test::TextLike(9000, 1), codec_test::RunHeavy(8193, 2), Bytes(4096, 0),
                          codec_test::RandomBytes(4097, 3)};
  for (const Bytes& input : inputs) {
    for (std::uint32_t mode : {0u, 1u}) {
      for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
        const Bytes whole = Implode(input, mode, dictionary);
        EXPECT_EQ(Implode(input, mode, dictionary, 1), whole);
        EXPECT_EQ(Implode(input, mode, dictionary, 1000), whole);
      }
    }
  }
}

TEST(ImplodeBufferCall, CapacityExactlyTheStreamSucceeds) {
  const Bytes input = codec_test::TextLike(5000, 9);
  const Bytes expected = Implode(input, 0, 4096);
  Bytes output(expected.size());
  const auto size = static_cast<std::uint32_t>(expected.size());
  EXPECT_EQ(ImplodeBuffer(output.data(), size, input.data(), 5000), static_cast<std::int32_t>(size));
  EXPECT_EQ(output, expected);
  EXPECT_EQ(ImplodeBuffer(output.data(), size - 1, input.data(), 5000), -1);
  // Same input, same bytes, call after call.
  Bytes again(expected.size());
  EXPECT_EQ(ImplodeBuffer(again.data(), size, input.data(), 5000), static_cast<std::int32_t>(size));
  EXPECT_EQ(again, expected);
}

TEST(ImplodeBufferCall, EmptyInputIsHeaderAndEndCode) {
  std::uint8_t output[8] = {};
  EXPECT_EQ(ImplodeBuffer(output, 8, nullptr, 0), 4);
  EXPECT_EQ(Bytes(output, output + 4), (Bytes{0x00, 0x06, 0x01, 0xFF}));
}

}  // namespace
