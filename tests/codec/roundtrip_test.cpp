// Implode then explode over many kinds and sizes of data in all six settings, and the encoder
// against the plain reference encoder: byte-for-byte equality shows that the search shortcuts
// change nothing, including near the end of the input where comparisons read past the data.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "codec_test_support.h"

namespace {

using codec_test::Bytes;

struct Setting {
  std::uint32_t mode;
  std::uint32_t dictionary;
};

const Setting kSettings[] = {{0, 1024}, {0, 2048}, {0, 4096}, {1, 1024}, {1, 2048}, {1, 4096}};

std::string Name(const Setting& setting) {
  return std::string(setting.mode == 0 ? "binary/" : "ascii/") + std::to_string(setting.dictionary);
}

struct Sample {
  std::string name;
  Bytes bytes;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 515, 516, 517, 4095, 4096, 4097, 8191, 8192, 8193, 12287};
  std::uint32_t seed = 1;
  for (std::size_t size : sizes) {
    samples.push_back({"random " + std::to_string(size), codec_test::RandomBytes(size, seed++)});
    samples.push_back({"text " + std::to_string(size), codec_test::TextLike(size, seed++)});
    samples.push_back({"runs " + std::to_string(size), codec_test::RunHeavy(size, seed++)});
    samples.push_back({"periodic " + std::to_string(size), codec_test::Periodic(size, 1 + seed % 300, seed)});
    ++seed;
  }
  // Inputs with many equally good and nearly as good candidates, where the long-match search skips
  // most; and runs that end right at the end of the input.
  samples.push_back({"ab 30000", codec_test::SmallAlphabet(30000, 2, 11)});
  samples.push_back({"abc 30000", codec_test::SmallAlphabet(30000, 3, 12)});
  samples.push_back({"zeros 20479", Bytes(20479, 0)});
  samples.push_back({"periodic 7 16383", codec_test::Periodic(16383, 7, 13)});
  samples.push_back({"periodic 515 13000", codec_test::Periodic(13000, 515, 14)});
  samples.push_back({"periodic 1500 9000", codec_test::Periodic(9000, 1500, 15)});
  return samples;
}

// Every sample in every setting: the encoder writes the reference encoder's stream.
void ExpectTheReferenceStreams(const std::vector<Sample>& samples) {
  for (const Sample& sample : samples) {
    for (const Setting& setting : kSettings) {
      ASSERT_EQ(codec_test::Implode(sample.bytes, setting.mode, setting.dictionary),
                codec_test::ReferenceImplode(sample.bytes, setting.mode, setting.dictionary))
          << sample.name << " " << Name(setting);
    }
  }
}

TEST(RoundTrip, AllSettingsAllKindsOfData) {
  for (const Sample& sample : Samples()) {
    for (const Setting& setting : kSettings) {
      const Bytes stream = codec_test::Implode(sample.bytes, setting.mode, setting.dictionary);
      // Binary literals are 9 bits: no stream is longer than all literals. (ASCII ones reach 14.)
      if (setting.mode == 0) {
        ASSERT_LE(stream.size(), codec_test::MaxStreamLength(sample.bytes.size())) << sample.name << " " << Name(setting);
      }
      // The decoder needs more than 4 bytes: only the empty input's stream is that short.
      if (sample.bytes.empty()) continue;
      const auto decoded = codec_test::Explode(stream);
      ASSERT_EQ(decoded.result, kExplodeOk) << sample.name << " " << Name(setting);
      ASSERT_EQ(decoded.output, sample.bytes) << sample.name << " " << Name(setting);
    }
  }
}

TEST(RoundTrip, SeveralHundredKilobytes) {
  Bytes mixed;
  for (std::uint32_t part = 0; part < 6; ++part) {
    const Bytes pieces[] = {codec_test::TextLike(50000, part), codec_test::RandomBytes(30000, part),
                            codec_test::RunHeavy(40000, part)};
    for (const Bytes& piece : pieces) mixed.insert(mixed.end(), piece.begin(), piece.end());
  }
  for (const Setting& setting : kSettings) {
    const Bytes stream = codec_test::Implode(mixed, setting.mode, setting.dictionary);
    EXPECT_LT(stream.size(), mixed.size());
    const auto decoded = codec_test::Explode(stream, 5, 1 + setting.dictionary % 97);
    ASSERT_EQ(decoded.result, kExplodeOk) << Name(setting);
    ASSERT_EQ(decoded.output, mixed) << Name(setting);
    EXPECT_EQ(stream, codec_test::Implode(mixed, setting.mode, setting.dictionary, 1)) << Name(setting);
  }
}

TEST(ReferenceEncoder, SameBytesAsTheEncoder) {
  ExpectTheReferenceStreams(Samples());
}

TEST(ReferenceEncoder, SameBytesAtEveryLastPassLength) {
  // Each last pass length from 0 to 4095 once, on data whose matches run to the end of the input,
  // so the comparisons there read past the data into whatever the state holds.
  const Bytes base = codec_test::Periodic(4096 + 4095, 97, 21);
  const Bytes text = codec_test::TextLike(4096 + 4095, 22);
  for (std::size_t last = 0; last < 4096; last += 1 + last / 64) {
    for (const Bytes* source : {&base, &text}) {
      const Bytes input(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(4096 + last));
      for (std::uint32_t dictionary : {1024u, 4096u}) {
        ASSERT_EQ(codec_test::Implode(input, 0, dictionary), codec_test::ReferenceImplode(input, 0, dictionary))
            << "last pass " << last << " dictionary " << dictionary;
      }
    }
  }
}

// Repeats of earlier stretches at many distances, cut short or changed here and there, between runs
// of zeros: like code and tables of a binary, it gives many candidates of every length from 2 to
// past 516 at once.
Bytes MutatedRepeats(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes = codec_test::RandomBytes(64, seed);
  while (bytes.size() < size) {
    const std::uint32_t kind = random() % 8;
    if (kind == 0) {
      bytes.insert(bytes.end(), 1 + random() % 700, 0);
    } else if (kind == 1) {
      for (std::uint32_t i = random() % 6; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(random()));
    } else {
      const std::size_t distance = 1 + random() % std::min<std::size_t>(bytes.size(), 5000);
      const std::size_t length = kind == 2 ? 500 + random() % 40 : 2 + random() % (random() % 4 == 0 ? 300 : 24);
      for (std::size_t i = 0; i < length; ++i) bytes.push_back(bytes[bytes.size() - distance]);
      if (random() % 3 == 0) bytes.back() = static_cast<std::uint8_t>(random());
    }
  }
  bytes.resize(size);
  return bytes;
}

// Stretches of 13 bytes: 'Q', two middle bytes, the 9-byte tail T and a separator. There is one
// stretch for every possible pair of middle bytes; between them, every fourth time, one with the
// middle "ab" and T changed at one byte; and, farther apart than the dictionary reaches, one with
// "ab" and T itself. For such a stretch the changed ones are the true candidates. In the first
// half they have T's 7th or 8th byte changed (matching 9 or 10 bytes), so the plain scan sees them
// all; in the second half one in four has the 9th changed (matching 11) and starts the long-match
// search, and the others, with the 7th changed, make it look for the next candidate from scratch.
// Whatever a search assumes about bytes it has not compared, some other stretch then looks 12
// bytes long.
Bytes SharedHeadAndTail() {
  const Bytes tail = codec_test::RandomBytes(9, 36);
  Bytes bytes;
  auto stretch = [&](std::uint8_t second, std::uint8_t third, std::uint32_t separator) {
    bytes.push_back('Q');
    bytes.push_back(second);
    bytes.push_back(third);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    bytes.push_back(static_cast<std::uint8_t>(separator));
  };
  for (std::uint32_t middle = 0; middle < 0x10000; ++middle) {
    stretch(static_cast<std::uint8_t>(middle * 0x9D), static_cast<std::uint8_t>(middle >> 8), middle * 0x3B);
    if (middle % 4 == 0) {
      stretch('a', 'b', middle * 0x3B + 1);
      const std::size_t changed = middle < 0x8000 ? 6 + (middle / 4) % 2 : (middle / 4) % 4 == 0 ? 8 : 6;
      bytes[bytes.size() - 1 - tail.size() + changed] ^= 0x33;
    }
    if (middle % 320 == 1) stretch('a', 'b', middle * 0x3B + 2);
  }
  return bytes;
}

TEST(ReferenceEncoder, SameBytesWhereTheSearchShortcutsMatter) {
  std::vector<Sample> samples;
  // Pair-hash collisions everywhere (4a + 5b equal for a and a + 5, b and b - 4) and, among 32
  // letters, many positions whose only candidates match two bytes.
  samples.push_back({"32 letters", codec_test::SmallAlphabet(24000, 32, 31)});
  samples.push_back({"16 letters", codec_test::SmallAlphabet(20000, 16, 32)});
  // Every three-byte hash shared by many different triples.
  samples.push_back({"random", codec_test::RandomBytes(40000, 33)});
  samples.push_back({"mutated repeats", MutatedRepeats(60000, 34)});
  samples.push_back({"mutated repeats 2", MutatedRepeats(30000, 35)});
  // Matches that end just before, at and just past 516 bytes, at many distances; and short periods,
  // where every candidate of the same phase reaches 516 bytes.
  for (std::size_t period : {2u, 4u, 513u, 514u, 515u, 516u, 517u, 518u}) {
    Bytes bytes = codec_test::Periodic(12000, period, static_cast<std::uint32_t>(period));
    for (std::size_t i = period * 3 + 7; i < bytes.size(); i += 1013) bytes[i] ^= 0x5A;
    samples.push_back({"period " + std::to_string(period) + " with changes", bytes});
  }
  // Runs of zeros broken by single bytes: huge candidate groups, most matching a few bytes.
  Bytes zeros(30000, 0);
  for (std::size_t i = 100; i < zeros.size(); i += 37 + i % 211) zeros[i] = static_cast<std::uint8_t>(i);
  samples.push_back({"broken zeros", zeros});
  ExpectTheReferenceStreams(samples);
}

TEST(ReferenceEncoder, SameBytesWhereTwoByteRepeatsLieFarApartInTheStream) {
  // The two-byte lookup keeps stream offsets modulo 2^16: in random data most pairs were last seen
  // more than 65536 bytes earlier, so their entries alias positions in reach. Long compressible
  // stretches leave the lookup behind by more than a block, and it must catch up on what remains.
  std::vector<Sample> samples;
  samples.push_back({"random 140000", codec_test::RandomBytes(140000, 51)});
  Bytes mixed;
  for (std::uint32_t piece = 0; mixed.size() < 150000; ++piece) {
    const Bytes part = piece % 2 == 0 ? Bytes(9000 + 1000 * (piece % 5), 0) : codec_test::RandomBytes(20000, 52 + piece);
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  samples.push_back({"zeros and random", mixed});
  ExpectTheReferenceStreams(samples);
}

TEST(ReferenceEncoder, SameBytesWhereMiddleBytesDiffer) {
  const Bytes input = SharedHeadAndTail();
  ASSERT_EQ(codec_test::Implode(input, 0, 4096), codec_test::ReferenceImplode(input, 0, 4096));
}

// Runs of a byte from `bytes`, `lengths(random)` long, each followed by one of `tails` (or, for an
// empty tail list, by a random byte), until `size` bytes.
template <typename Lengths>
Bytes RunsWithTails(std::size_t size, std::uint32_t seed, const std::vector<std::uint8_t>& bytes,
                    const std::vector<std::string>& tails, Lengths lengths) {
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < size) {
    out.insert(out.end(), lengths(random), bytes[random() % bytes.size()]);
    const std::string tail = tails.empty() ? std::string(1, static_cast<char>(random())) : tails[random() % tails.size()];
    out.insert(out.end(), tail.begin(), tail.end());
  }
  out.resize(size);
  return out;
}

TEST(ReferenceEncoder, SameBytesForRunsOfOneByte) {
  // A search whose first four bytes are one byte looks only at the runs of that byte; these inputs
  // give it runs that match p's run exactly and go on into the same tail (or not), runs shorter and
  // longer than p's, several of 516 bytes and more at once (the farthest wins), runs of other bytes
  // in between, runs cut by the dictionary's lower edge and runs across the window's moves.
  const std::vector<std::string> tails = {"a", "ab", "abc", "abcd", "x", "\x01"};
  std::vector<Sample> samples;
  samples.push_back({"zero runs of 1 to 40 with tails",
                     RunsWithTails(40000, 61, {0}, tails, [](std::mt19937& r) { return 1 + r() % 40; })});
  samples.push_back({"runs of two bytes with tails", RunsWithTails(40000, 62, {0, 0xFF}, tails, [](std::mt19937& r) {
                       return 1 + r() % (r() % 6 == 0 ? 700 : 12);
                     })});
  samples.push_back({"runs of 500 to 540 with tails",
                     RunsWithTails(60000, 63, {0}, tails, [](std::mt19937& r) { return 500 + r() % 41; })});
  samples.push_back({"runs of 4 to 8 between random bytes",
                     RunsWithTails(40000, 64, {0, 'A', 0x90}, {}, [](std::mt19937& r) { return 4 + r() % 5; })});
  // Runs of four bytes side by side, as many as the window can hold (a list that is too short
  // overflows here).
  Bytes sideBySide(7 * 4096 - 1);
  for (std::size_t i = 0; i < sideBySide.size(); ++i) sideBySide[i] = static_cast<std::uint8_t>("ABC"[i / 4 % 3]);
  samples.push_back({"runs of 4 side by side", sideBySide});
  // Runs of every byte value: each byte's runs lie far apart in the list, among the others'.
  std::vector<std::uint8_t> everyByte(256);
  for (std::size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = static_cast<std::uint8_t>(i);
  samples.push_back({"runs of every byte", RunsWithTails(40000, 66, everyByte, {}, [](std::mt19937& r) {
                       return 4 + r() % (r() % 3 == 0 ? 40 : 5);
                     })});
  // Short zero runs spaced a little more or less than a dictionary apart, in unrepeating filler:
  // the nearest candidate run is cut by, or lies just below, the lowest position in reach.
  Bytes edges = codec_test::Unrepeating(16000);
  for (std::size_t at = 100, k = 0; at + 40 < edges.size(); at += 1019 + 2 * (k % 4), ++k) {
    std::fill_n(edges.begin() + static_cast<std::ptrdiff_t>(at), 4 + k % 20, 0);
  }
  samples.push_back({"runs near the dictionary's edge", edges});
  // Runs starting just below, at and past every block edge, in random filler.
  Bytes blocks = codec_test::RandomBytes(40000, 65);
  for (std::size_t edge = 4096, k = 0; edge + 600 < blocks.size(); edge += 4096, ++k) {
    std::fill_n(blocks.begin() + static_cast<std::ptrdiff_t>(edge - 520 + 7 * k), 3 + 9 * k, 0);
    std::fill_n(blocks.begin() + static_cast<std::ptrdiff_t>(edge - 5 + k), 4 + 60 * k, 0);
  }
  samples.push_back({"runs across block edges", blocks});
  ExpectTheReferenceStreams(samples);
}

TEST(ReferenceEncoder, SameBytesWhereTheLastPositionsHashBytesPastTheData) {
  // A last pass of 4093 to 4095 bytes puts its last positions right before the sorted entries, so
  // their three-byte (and the very last one's two-byte) hash takes bytes that the sort stored
  // there; the data repeats up to its end so those positions have candidates.
  const Bytes sources[] = {codec_test::Periodic(8192, 29, 41), Bytes(8192, 0), MutatedRepeats(8192, 42),
                           codec_test::SmallAlphabet(8192, 3, 43)};
  for (const Bytes& source : sources) {
    for (std::size_t length : {4093u, 4094u, 4095u, 4096u + 4093u, 4096u + 4094u, 4096u + 4095u}) {
      const Bytes input(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(length));
      for (const Setting& setting : kSettings) {
        ASSERT_EQ(codec_test::Implode(input, setting.mode, setting.dictionary),
                  codec_test::ReferenceImplode(input, setting.mode, setting.dictionary))
            << "length " << length << " " << Name(setting);
      }
    }
  }
}

TEST(ReferenceEncoder, SortedEntriesDecideBetweenMatchesThatRunPastTheData) {
  // 3584 bytes, dictionary 4096: one pass whose data ends at window index 8196, 512 zero bytes
  // before the sorted entries. The lowest pair hash is that of the two zeros at offset 0 (window
  // index 4612), so the first sorted entry's low byte is 0x04. From offset 3581 the last three bytes
  // 01 02 03, the zeros and that byte make 516 bytes: the candidate at offset 700 (01 02 03, 512
  // zeros, 0x04) matches them all and wins over the farther one at offset 100 (01 02 03, 520
  // zeros), which matches 515. Had the sort not been made, a zero would stand there and the
  // farther candidate would win instead.
  Bytes input = codec_test::Unrepeating(3584);
  auto place = [&](std::size_t offset, std::initializer_list<std::uint8_t> bytes, std::size_t zeros) {
    for (std::uint8_t byte : bytes) input[offset++] = byte;
    for (; zeros > 0; --zeros) input[offset++] = 0;
  };
  place(0, {0x00, 0x00}, 0);
  place(100, {0x01, 0x02, 0x03}, 520);
  place(700, {0x01, 0x02, 0x03}, 512);
  place(1215, {0x04}, 0);
  place(3581, {0x01, 0x02, 0x03}, 0);
  const Bytes stream = codec_test::Implode(input, 0, 4096);
  ASSERT_EQ(stream, codec_test::ReferenceImplode(input, 0, 4096));
  const auto tokens = codec_test::ParseTokens(stream);
  ASSERT_FALSE(tokens.empty());
  EXPECT_EQ(tokens.back(), (codec_test::Token{3581, 3, 3581 - 700, 0})) << codec_test::Describe(tokens.back());
}

TEST(ReferenceEncoder, LastPassSortReadsWhatThePreviousSortLeft) {
  // 4096 + 4095 bytes, dictionary 4096: the last pass ends at window index 8707, so its sort hashes
  // the pair of that position with the low byte of the first sorted entry as the previous pass's
  // sort left it. Apart from the pair 0x00 0x20 (hash 160) at input offsets 1780 and 2316 every
  // pair of the data hashes above 200. The previous sort put offset 1780 first, at window index
  // 6392, low byte 0xF8; so the last position's pair 0x05 0xF8 hashes to 1260 and the last sort
  // again puts offset 1780 first, low byte 0xF8, right behind the data. (Had the previous sort left
  // a low byte below 28, the last position itself would come first, low byte 0x03.) The data's
  // last byte 0x41 then repeats 0x41 0x05 0xF8 from offset 6000: three bytes, two of them past the
  // data. So the position before, whose only candidate matches two bytes 200 back, gives way to a
  // literal; with any other byte behind the data it would be a 2-byte match.
  Bytes input = codec_test::Unrepeating(8191);
  const std::pair<std::size_t, std::uint8_t> placed[] = {
      {1780, 0x00}, {1781, 0x20}, {2316, 0x00}, {2317, 0x20}, {4095, 0x05}, {6000, 0x41},
      {6001, 0x05}, {6002, 0xF8}, {7989, 0x22}, {7990, 0x41}, {8189, 0x22}, {8190, 0x41}};
  for (const auto& [offset, byte] : placed) input[offset] = byte;
  const Bytes stream = codec_test::Implode(input, 0, 4096);
  ASSERT_EQ(stream, codec_test::ReferenceImplode(input, 0, 4096));
  const auto tokens = codec_test::ParseTokens(stream);
  ASSERT_GE(tokens.size(), 2u);
  EXPECT_EQ(tokens[tokens.size() - 2], (codec_test::Token{8189, 0, 0, 0x22})) << codec_test::Describe(tokens[tokens.size() - 2]);
  EXPECT_EQ(tokens.back(), (codec_test::Token{8190, 0, 0, 0x41})) << codec_test::Describe(tokens.back());
}

}  // namespace
