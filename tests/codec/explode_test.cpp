// The decoder: result codes and their order, the input-end rules, chunked output, the memory
// wrapper and its callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "codec/explode.h"
#include "codec/memory_transfer.h"
#include "codec_test_support.h"

namespace {

using codec_test::Bytes;
using codec_test::Explode;
using codec_test::StreamWriter;

const Bytes kFourA = {0x00, 0x04, 0x82, 0x3E, 0x04, 0xFC, 0x03};

TEST(ExplodeExamples, LiteralThenOverlappingMatch) {
  const auto decoded = Explode(kFourA);
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, Bytes(4, 0x41));
}

TEST(ExplodeExamples, AsciiLiteral) {
  const auto decoded = Explode({0x01, 0x04, 0x76, 0xC0, 0x3F});
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, Bytes{0x65});
}

TEST(ExplodeExamples, EmptyStreamNeedsOneMoreByte) {
  // Header and end code alone are 4 bytes: too short, refused before any write.
  const auto tooShort = Explode({0x00, 0x06, 0x01, 0xFF});
  EXPECT_EQ(tooShort.result, kExplodeInputTooShort);
  EXPECT_TRUE(tooShort.chunks.empty());
  const auto decoded = Explode({0x00, 0x06, 0x01, 0xFF, 0x00});
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_TRUE(decoded.output.empty());
  EXPECT_EQ(decoded.chunks, std::vector<std::uint32_t>{0});
}

TEST(ExplodeResults, HeaderChecksInOrderBeforeAnyWrite) {
  struct Case {
    Bytes stream;
    ExplodeResult result;
  };
  const Case cases[] = {
      {{0x00, 0x07, 0x01, 0xFF, 0x00}, kExplodeBadDictionary},
      {{0x00, 0x03, 0x01, 0xFF, 0x00}, kExplodeBadDictionary},
      {{0x02, 0x06, 0x01, 0xFF, 0x00}, kExplodeBadLiteralMode},
      {{0x02, 0x03, 0x01, 0xFF, 0x00}, kExplodeBadDictionary},  // both wrong: the dictionary wins
      {{0x02, 0x03, 0x01, 0xFF}, kExplodeInputTooShort},        // too short beats both
      {{}, kExplodeInputTooShort},
  };
  for (const Case& c : cases) {
    const auto decoded = Explode(c.stream);
    EXPECT_EQ(decoded.result, c.result);
    EXPECT_TRUE(decoded.chunks.empty());
  }
}

TEST(ExplodeResults, FirstReadDecidesTheTooShortRule) {
  // A stream is refused when the first delivery is 4 bytes or fewer, even if more would follow.
  EXPECT_EQ(Explode(kFourA, 4, 2048).result, kExplodeInputTooShort);
  // From 5 bytes on, deliveries of any size decode the same.
  const auto trickled = Explode(kFourA, 5, 1);
  EXPECT_EQ(trickled.result, kExplodeOk);
  EXPECT_EQ(trickled.output, Bytes(4, 0x41));
}

TEST(ExplodeInputEnd, TruncatedStreamKeepsEveryTokenWithLookAhead) {
  // Without the last byte the match is still followed by 8 bits; without two, only the literal.
  const auto oneShort = Explode(Bytes(kFourA.begin(), kFourA.end() - 1));
  EXPECT_EQ(oneShort.result, kExplodeInputEnded);
  EXPECT_EQ(oneShort.output, Bytes(4, 0x41));
  EXPECT_EQ(oneShort.chunks, std::vector<std::uint32_t>{4});
  const auto twoShort = Explode(Bytes(kFourA.begin(), kFourA.end() - 2));
  EXPECT_EQ(twoShort.result, kExplodeInputEnded);
  EXPECT_EQ(twoShort.output, Bytes{0x41});
}

TEST(ExplodeInputEnd, EndCodeOnTheLastBitOfTheLastByte) {
  // Eight 9-bit literals and the 16-bit end code fill exactly 11 bytes after the header.
  StreamWriter writer(0, 6);
  for (std::uint8_t byte = 1; byte <= 8; ++byte) writer.Literal(byte);
  writer.End();
  const Bytes stream = writer.Finish();
  ASSERT_EQ(stream.size(), 13u);
  const auto decoded = Explode(stream);
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  // A stream cut anywhere before that bit fails.
  for (std::size_t cut = 5; cut < stream.size(); ++cut) {
    EXPECT_EQ(Explode(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut))).result,
              kExplodeInputEnded)
        << cut;
  }
}

TEST(ExplodeInputEnd, BytesAfterTheEndCodeAreIgnored) {
  Bytes stream = kFourA;
  stream.insert(stream.end(), 3000, 0xFF);
  const auto decoded = Explode(stream);
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, Bytes(4, 0x41));
}

TEST(ExplodeTokens, EndCodeNeedsExtraValue255) {
  // Code 15 with extra value 254 is a match of 518.
  StreamWriter writer(0, 4);
  writer.Literal('x');
  writer.Match(518, 1);
  writer.End();
  const auto decoded = Explode(writer.Finish());
  EXPECT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, Bytes(519, 'x'));
}

TEST(ExplodeTokens, DistancesReachingBeforeTheStartGiveZeros) {
  StreamWriter writer(0, 6);
  writer.Literal(0x41);
  writer.Match(5, 1);       // overlapping copy of the last byte
  writer.Match(3, 4096);    // back into the zero history
  writer.Match(2, 256);     // farthest 2-byte match
  writer.Match(3, 3);
  writer.End();
  const auto decoded = Explode(writer.Finish());
  EXPECT_EQ(decoded.result, kExplodeOk);
  Bytes expected(6, 0x41);
  expected.resize(14, 0);
  EXPECT_EQ(decoded.output, expected);
}

TEST(ExplodeTokens, OverlappingCopiesAtEveryNearDistanceAndLength) {
  // Nearer sources repeat a short pattern, farther ones copy in words; every length around the
  // word sizes, and the longest, after distinct bytes, in both literal modes, with the stream
  // delivered whole and a byte at a time. Each match is followed by a literal and a copy of what
  // it produced, so a byte written past a match's end would show.
  for (std::uint8_t mode : {0, 1}) {
    StreamWriter writer(mode, 6);
    Bytes expected;
    auto literal = [&](std::uint8_t byte) {
      writer.Literal(byte);
      expected.push_back(byte);
    };
    auto match = [&](std::uint32_t length, std::uint32_t distance) {
      writer.Match(length, distance);
      for (std::uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    };
    for (std::uint32_t distance = 1; distance <= 20; ++distance) {
      for (std::uint32_t length : {2u, 3u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 24u, 25u, 33u, 100u, 517u, 518u}) {
        if (length == 2 && distance > 256) continue;
        for (std::uint32_t i = 0; i < distance; ++i) literal(static_cast<std::uint8_t>(0x30 + 7 * i + length));
        match(length, distance);
        literal(0xEE);
        match(length + 1 < 518 ? length + 1 : 518, length + 1);
      }
    }
    writer.End();
    const Bytes stream = writer.Finish();
    ASSERT_EQ(Explode(stream).output, expected) << "mode " << int{mode};
    ASSERT_EQ(Explode(stream, 5, 1).output, expected) << "mode " << int{mode} << ", a byte per read";
  }
}

TEST(ExplodeTokens, FarthestDistancesForEveryDictionary) {
  for (std::uint8_t bits = 4; bits <= 6; ++bits) {
    const std::uint32_t dictionary = 64u << bits;
    StreamWriter writer(0, bits);
    for (std::uint32_t i = 0; i < dictionary; ++i) writer.Literal(static_cast<std::uint8_t>(i * 7 + i / 256));
    writer.Match(3, dictionary);
    writer.Match(2, 256);
    writer.End();
    const auto decoded = Explode(writer.Finish());
    ASSERT_EQ(decoded.result, kExplodeOk);
    ASSERT_EQ(decoded.output.size(), dictionary + 5);
    for (std::uint32_t k = 0; k < 3; ++k) EXPECT_EQ(decoded.output[dictionary + k], decoded.output[k]);
    for (std::uint32_t k = 0; k < 2; ++k) {
      EXPECT_EQ(decoded.output[dictionary + 3 + k], decoded.output[dictionary + 3 + k - 256]);
    }
  }
}

TEST(ExplodeBuilds, BaselineAndProcessorBuildsDecodeAlike) {
  // The binary-mode loop is built for more than one instruction set, and a machine runs the one for
  // its processor: both must decode every dictionary size alike.
  const Bytes inputs[] = {codec_test::TextLike(60000, 1), codec_test::RunHeavy(60000, 2), codec_test::RandomBytes(20000, 3)};
  for (const Bytes& input : inputs) {
    for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
      const Bytes stream = codec_test::Implode(input, 0, dictionary);
      for (bool baseline : {true, false}) {
        ExplodeUseBaselineCode(baseline);
        Bytes destination(input.size());
        EXPECT_EQ(ExplodeBuffer(destination.data(), static_cast<std::uint32_t>(destination.size()), stream.data(),
                                static_cast<std::uint32_t>(stream.size())),
                  static_cast<std::int32_t>(input.size()));
        EXPECT_EQ(destination, input) << "dictionary " << dictionary << (baseline ? ", baseline" : "");
        const auto decoded = Explode(stream);
        EXPECT_EQ(decoded.result, kExplodeOk);
        EXPECT_EQ(decoded.output, input) << "dictionary " << dictionary << (baseline ? ", baseline" : "");
      }
    }
  }
  ExplodeUseBaselineCode(false);
}

// Every kind and build of the inner loop, as ExplodeLoop and ExplodeUseBaselineCode pick them.
struct LoopBuild {
  ExplodeLoop loop;
  bool baseline;
  const char* name;
};
const LoopBuild kLoopBuilds[] = {{ExplodeLoop::kWide, false, "64-bit"},
                                 {ExplodeLoop::kWide, true, "64-bit baseline"},
                                 {ExplodeLoop::kNarrow, false, "32-bit"},
                                 {ExplodeLoop::kNarrow, true, "32-bit baseline"}};

void UseLoopBuild(const LoopBuild& build) {
  ExplodeUseLoop(build.loop);
  ExplodeUseBaselineCode(build.baseline);
}

void UseHostLoop() {
  ExplodeUseLoop(ExplodeLoop::kHost);
  ExplodeUseBaselineCode(false);
}

// A stream of random tokens, every kind the format has: runs of 0 to 4 literals, matches of every
// length code (the shortest, those around the copy widths, the longest) at distances from 1 to the
// dictionary's farthest, so that heads that fit the decoder's match table and the longest tokens
// (30 bits) both come often; it ends with the end code after 0 to 3 literals. `expected` receives
// what it decodes to.
Bytes RandomTokens(std::uint8_t literalMode, std::uint8_t dictionaryBits, std::uint32_t seed, Bytes& expected) {
  std::mt19937 random(seed);
  StreamWriter writer(literalMode, dictionaryBits);
  expected.clear();
  const std::uint32_t lengths[] = {2, 3, 4, 7, 8, 9, 10, 16, 17, 24, 25, 40, 135, 263, 517, 518};
  while (expected.size() < 30000) {
    for (std::uint32_t n = random() % 5; n > 0; --n) {
      const auto byte = static_cast<std::uint8_t>(random());
      writer.Literal(byte);
      expected.push_back(byte);
    }
    const std::uint32_t length = random() % 4 == 0 ? 2 + random() % 517 : lengths[random() % 16];
    const std::uint32_t farthest = length == 2 ? 256 : 64u << dictionaryBits;
    const std::uint32_t distance = random() % 3 == 0 ? farthest - random() % 4 : 1 + random() % farthest;
    writer.Match(length, distance);
    for (std::uint32_t i = 0; i < length; ++i) {
      expected.push_back(expected.size() >= distance ? expected[expected.size() - distance] : 0);
    }
  }
  for (std::uint32_t n = seed % 4; n > 0; --n) {
    writer.Literal(0x5A);
    expected.push_back(0x5A);
  }
  writer.End();
  return writer.Finish();
}

TEST(ExplodeLoops, EveryKindAndBuildDecodesEveryStreamAlike) {
  // Each kind and build, through both entry points, with the stream delivered as the installer
  // delivers it and in small pieces (the 32-bit loop rebuilds its position from the input bytes,
  // which a new piece replaces): the random token streams of every dictionary size and literal
  // mode, and streams of the encoder from data of every kind.
  struct Case {
    std::string name;
    Bytes stream;
    Bytes expected;
  };
  std::vector<Case> cases;
  for (std::uint8_t mode : {0, 1}) {
    for (std::uint8_t bits : {4, 5, 6}) {
      for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
        Case c{"random tokens, mode " + std::to_string(mode) + ", dictionary bits " + std::to_string(bits) + ", seed " +
                   std::to_string(seed),
               {},
               {}};
        c.stream = RandomTokens(mode, bits, seed + 10 * bits, c.expected);
        cases.push_back(std::move(c));
      }
    }
  }
  const std::pair<const char*, Bytes> inputs[] = {{"text", codec_test::TextLike(40000, 1)},
                                                  {"runs", codec_test::RunHeavy(40000, 2)},
                                                  {"random", codec_test::RandomBytes(9000, 3)},
                                                  {"periods of 3", codec_test::Periodic(9000, 3, 4)},
                                                  {"five letters", codec_test::SmallAlphabet(20000, 5, 5)}};
  for (const auto& [name, input] : inputs) {
    for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
      cases.push_back({std::string(name) + ", dictionary " + std::to_string(dictionary),
                       codec_test::Implode(input, 0, dictionary), input});
    }
  }
  for (const Case& c : cases) {
    for (const LoopBuild& build : kLoopBuilds) {
      UseLoopBuild(build);
      Bytes destination(c.expected.size());
      EXPECT_EQ(ExplodeBuffer(destination.data(), static_cast<std::uint32_t>(destination.size()), c.stream.data(),
                              static_cast<std::uint32_t>(c.stream.size())),
                static_cast<std::int32_t>(c.expected.size()))
          << c.name << ", " << build.name;
      EXPECT_EQ(destination, c.expected) << c.name << ", " << build.name;
      for (std::uint32_t reads : {2048u, 37u}) {
        const auto decoded = Explode(c.stream, reads, reads);
        EXPECT_EQ(decoded.result, kExplodeOk) << c.name << ", " << build.name << ", reads of " << reads;
        EXPECT_EQ(decoded.output, c.expected) << c.name << ", " << build.name << ", reads of " << reads;
      }
    }
  }
  UseHostLoop();
}

TEST(ExplodeLoops, EveryKindAndBuildStopsAlikeOnDamagedStreams) {
  // Cut short, or with bytes changed: every kind and build gives the 64-bit loop's result and the
  // same bytes before it, in the stream decoder and the memory call alike.
  Bytes expected;
  const Bytes sound = RandomTokens(0, 6, 7, expected);
  std::vector<Bytes> damaged;
  for (std::size_t cut : {std::size_t{5}, std::size_t{6}, std::size_t{40}, sound.size() / 3, sound.size() / 2, sound.size() - 1}) {
    damaged.emplace_back(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(cut));
  }
  std::mt19937 random(8);
  for (int i = 0; i < 12; ++i) {
    Bytes changed = sound;
    for (int k = 0; k < 1 + i % 3; ++k) changed[3 + random() % (changed.size() - 3)] ^= static_cast<std::uint8_t>(1 + random() % 255);
    damaged.push_back(std::move(changed));
  }
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    const Bytes& stream = damaged[i];
    UseLoopBuild(kLoopBuilds[1]);
    const auto reference = Explode(stream);
    std::vector<std::uint8_t> referenceBuffer(64 * 1024);
    ExplodeResult referenceResult = kExplodeOk;
    const std::int32_t referenceSize = ExplodeBuffer(referenceBuffer.data(), static_cast<std::uint32_t>(referenceBuffer.size()),
                                                     stream.data(), static_cast<std::uint32_t>(stream.size()), &referenceResult);
    for (const LoopBuild& build : kLoopBuilds) {
      UseLoopBuild(build);
      const auto decoded = Explode(stream);
      EXPECT_EQ(decoded.result, reference.result) << "damaged stream " << i << ", " << build.name;
      EXPECT_EQ(decoded.output, reference.output) << "damaged stream " << i << ", " << build.name;
      std::vector<std::uint8_t> buffer(referenceBuffer.size());
      ExplodeResult result = kExplodeOk;
      EXPECT_EQ(ExplodeBuffer(buffer.data(), static_cast<std::uint32_t>(buffer.size()), stream.data(),
                              static_cast<std::uint32_t>(stream.size()), &result),
                referenceSize)
          << "damaged stream " << i << ", " << build.name;
      EXPECT_EQ(result, referenceResult) << "damaged stream " << i << ", " << build.name;
      const std::size_t decodedPart = std::min(reference.output.size(), buffer.size());
      EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(decodedPart),
                             reference.output.begin()))
          << "damaged stream " << i << ", " << build.name;
    }
  }
  UseHostLoop();
}

TEST(ExplodeChunks, FullChunksThenAFinalShortOne) {
  // Exactly 2 x 4096 bytes end with an empty final chunk; one byte more with a 1-byte chunk.
  for (std::uint32_t extra : {0u, 1u}) {
    StreamWriter writer(0, 6);
    writer.Literal(7);
    for (std::uint32_t left = 8191; left > 0;) {
      const std::uint32_t length = left > 518 ? 518 : left < 2 ? 2 : left;
      writer.Match(length, 1);
      left -= length;
    }
    if (extra != 0) writer.Literal(9);
    writer.End();
    const auto decoded = Explode(writer.Finish());
    ASSERT_EQ(decoded.result, kExplodeOk);
    EXPECT_EQ(decoded.chunks, (std::vector<std::uint32_t>{4096, 4096, extra}));
    EXPECT_EQ(decoded.output.size(), 8192u + extra);
  }
}

TEST(ExplodeChunks, LongestMatchAtTheLastPositionBeforeAFlush) {
  // 4095 bytes, then a 518-byte match starting at window position 8191, then bytes that must
  // land after it in the right order.
  StreamWriter writer(0, 6);
  Bytes expected;
  for (std::uint32_t i = 0; i < 4095; ++i) {
    writer.Literal(static_cast<std::uint8_t>(i % 251));
    expected.push_back(static_cast<std::uint8_t>(i % 251));
  }
  writer.Match(518, 1000);
  for (std::uint32_t i = 0; i < 518; ++i) expected.push_back(expected[expected.size() - 1000]);
  writer.Match(517, 3);
  for (std::uint32_t i = 0; i < 517; ++i) expected.push_back(expected[expected.size() - 3]);
  writer.Literal(0xEE);
  expected.push_back(0xEE);
  writer.End();
  const auto decoded = Explode(writer.Finish());
  ASSERT_EQ(decoded.result, kExplodeOk);
  EXPECT_EQ(decoded.output, expected);
  EXPECT_EQ(decoded.chunks, (std::vector<std::uint32_t>{4096, static_cast<std::uint32_t>(expected.size() - 4096)}));
}

TEST(ExplodeChunks, InputEndingMidStreamStillWritesWhatWasDecoded) {
  StreamWriter writer(0, 6);
  writer.Literal('q');
  for (int i = 0; i < 20; ++i) writer.Match(518, 1);
  const Bytes stream = writer.Finish();  // no end code
  const auto decoded = Explode(stream);
  EXPECT_EQ(decoded.result, kExplodeInputEnded);
  EXPECT_EQ(decoded.chunks.size(), 3u);
  EXPECT_EQ(decoded.chunks[0], 4096u);
  EXPECT_EQ(decoded.chunks[1], 4096u);
  EXPECT_LT(decoded.chunks[2], 4096u);
  EXPECT_EQ(decoded.output, Bytes(decoded.output.size(), 'q'));
}

// ReadFromMemory and WriteToMemory on the caller's record.
TEST(MemoryCallbacks, ReadHandsOutTheSmallerOfRequestAndRemainder) {
  const std::uint8_t source[5] = {1, 2, 3, 4, 5};
  MemoryTransfer memoryTransfer{source, 5, nullptr, 0, 0, 0};
  std::uint8_t buffer[8] = {};
  std::uint32_t size = 3;
  EXPECT_EQ(ReadFromMemory(buffer, &size, &memoryTransfer), 3u);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(ReadFromMemory(buffer + 3, &size, &memoryTransfer), 2u);
  EXPECT_EQ(ReadFromMemory(buffer, &size, &memoryTransfer), 0u);
  EXPECT_EQ(std::memcmp(buffer, source, 5), 0);
}

TEST(MemoryCallbacks, WriteDropsAWholeChunkThatWouldPassTheCapacity) {
  std::uint8_t destination[6] = {};
  MemoryTransfer memoryTransfer{nullptr, 0, destination, 0, 6, 0};
  std::uint8_t chunk[4] = {9, 8, 7, 6};
  std::uint32_t size = 4;
  WriteToMemory(chunk, &size, &memoryTransfer);
  WriteToMemory(chunk, &size, &memoryTransfer);  // 8 > 6: dropped whole
  EXPECT_EQ(memoryTransfer.overflow, 1);
  EXPECT_EQ(memoryTransfer.destinationCount, 4u);
  size = 2;
  WriteToMemory(chunk, &size, &memoryTransfer);  // still fits exactly
  EXPECT_EQ(memoryTransfer.destinationCount, 6u);
  EXPECT_EQ(std::memcmp(destination, "\x09\x08\x07\x06\x09\x08", 6), 0);
}

TEST(MemoryCallbacks, WriteNearAFourGigabyteCapacityDoesNotWrapAround) {
  // count + size would wrap to a small number; the chunk must still be refused.
  std::uint8_t destination[1] = {};
  MemoryTransfer memoryTransfer{nullptr, 0, destination, 0xFFFFFFF0u, 0xFFFFFFFFu, 0};
  std::uint8_t chunk[32] = {};
  std::uint32_t size = 32;
  WriteToMemory(chunk, &size, &memoryTransfer);
  EXPECT_EQ(memoryTransfer.overflow, 1);
  EXPECT_EQ(memoryTransfer.destinationCount, 0xFFFFFFF0u);
}

TEST(ExplodeBufferCall, AnyCapacityDecodesAsTheStreamDecoder) {
  // Long enough that the decoder moves into the destination after its first batch and back into its
  // own window near the capacity: capacities around the output's length and far beyond it.
  Bytes input;
  for (std::uint32_t part = 0; input.size() < 200000; ++part) {
    const Bytes piece = part % 3 == 0 ? codec_test::TextLike(7000, part) : part % 3 == 1 ? codec_test::RunHeavy(9000, part)
                                                                                        : codec_test::RandomBytes(3000, part);
    input.insert(input.end(), piece.begin(), piece.end());
  }
  const Bytes stream = codec_test::Implode(input, 0, 4096);
  const auto size = static_cast<std::uint32_t>(input.size());
  for (std::uint32_t capacity : {size - 1, size, size + 1, size + 600, size + 40000, 2 * size}) {
    Bytes destination(capacity, 0xEE);
    const std::int32_t got = ExplodeBuffer(destination.data(), capacity, stream.data(), static_cast<std::uint32_t>(stream.size()));
    if (capacity < size) {
      EXPECT_EQ(got, -1) << capacity;
      continue;
    }
    ASSERT_EQ(got, static_cast<std::int32_t>(size)) << capacity;
    EXPECT_TRUE(std::equal(input.begin(), input.end(), destination.begin())) << capacity;
  }
}

TEST(ExplodeBufferCall, LongestMatchesPastABatchStayWithinTheCapacity) {
  // Two rounds of longest matches can carry the output past a batch before the limit is checked.
  // The decoder works in the destination only while that overshoot still fits the capacity: the
  // capacities are the least that let it stay there for one, two or three batches, plus a little,
  // counted from the start and from its first 4096 bytes (where it moves there), and a guard behind
  // each must come back untouched. The literals in front move where the batch ends fall among the
  // matches.
  constexpr std::uint32_t kRoomForWindow = kExplodeWindowSize + kExplodeCopySlack - kExplodeHistory;
  constexpr std::uint32_t kGuard = 4096;
  for (std::uint32_t lead : {0u, 1u, 2u, 3u, 130u, 333u}) {
    Bytes input(lead, 'x');
    input.resize(lead + 150000, 0);
    const Bytes stream = codec_test::Implode(input, 0, 4096);
    for (std::uint32_t batches = 1; batches <= 3; ++batches) {
      for (std::uint32_t extra = 0; extra <= 2 * 520; extra += 40) {
        // Past 520, the same counted from the first 4096 bytes.
        const std::uint32_t capacity =
            batches * kExplodeBatch + kRoomForWindow + (extra <= 520 ? extra : kExplodeHistory + extra - 560);
        Bytes destination(capacity + kGuard, 0xEE);
        ExplodeBuffer(destination.data(), capacity, stream.data(), static_cast<std::uint32_t>(stream.size()));
        EXPECT_TRUE(std::all_of(destination.begin() + capacity, destination.end(), [](std::uint8_t b) { return b == 0xEE; }))
            << "lead " << lead << ", capacity " << capacity;
      }
    }
  }
}

TEST(ExplodeBufferCall, CapacityExactlyTheOutputSucceeds) {
  std::uint8_t destination[4] = {};
  EXPECT_EQ(ExplodeBuffer(destination, 4, kFourA.data(), static_cast<std::uint32_t>(kFourA.size())), 4);
  EXPECT_EQ(std::memcmp(destination, "AAAA", 4), 0);
  ExplodeResult result = kExplodeInputEnded;
  EXPECT_EQ(ExplodeBuffer(destination, 3, kFourA.data(), static_cast<std::uint32_t>(kFourA.size()), &result), -1);
  EXPECT_EQ(result, kExplodeOk);  // the stream is fine; only the room was short
}

// A bad stream gives -1 and its decoder result to the caller, which decides whether anybody sees it.
TEST(ExplodeBufferCall, BadStreamsHandTheirResultToTheCaller) {
  const struct {
    Bytes stream;
    ExplodeResult result;
  } cases[] = {{{0x00, 0x09, 0, 0, 0}, kExplodeBadDictionary},
               {{0x05, 0x06, 0, 0, 0}, kExplodeBadLiteralMode},
               {{0x00, 0x06, 0x01, 0xFF}, kExplodeInputTooShort},
               {Bytes(kFourA.begin(), kFourA.end() - 2), kExplodeInputEnded}};
  for (const auto& c : cases) {
    std::uint8_t destination[16] = {};
    ExplodeResult result = kExplodeOk;
    EXPECT_EQ(ExplodeBuffer(destination, 16, c.stream.data(), static_cast<std::uint32_t>(c.stream.size()), &result), -1);
    EXPECT_EQ(result, c.result);
  }
}

TEST(ExplodeBufferCall, InputEndedStillDeliversTheDecodedPart) {
  std::uint8_t destination[8] = {};
  const Bytes cut(kFourA.begin(), kFourA.end() - 1);
  EXPECT_EQ(ExplodeBuffer(destination, 8, cut.data(), static_cast<std::uint32_t>(cut.size())), -1);
  EXPECT_EQ(std::memcmp(destination, "AAAA", 4), 0);
}

}  // namespace
