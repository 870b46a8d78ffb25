// The encoder in pieces: every chunk size, run-on and number of pieces in flight gives exactly the
// single-threaded stream, for ordinary data and for data made to keep the pieces' parses apart at
// the chunk edges (runs and periods across them, matches reaching back over them, chunks shorter
// than the window, inputs ending in every part of a pass), in all six settings.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "codec_test_support.h"

namespace {

using codec_test::Bytes;

struct Sample {
  std::string name;
  Bytes bytes;
};

// A Windows DLL of the system, when there is one (natively and under Wine's Z: drive alike).
Bytes SystemDll() {
  for (const char* path : {"/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll",
                           "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows\\shell32.dll"}) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!bytes.empty()) {
      bytes.resize(std::min<std::size_t>(bytes.size(), 300000));
      return bytes;
    }
  }
  return {};
}

void Fill(Bytes& bytes, std::size_t from, std::size_t to, std::uint8_t byte) {
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to), byte);
}

// Copies `length` bytes from `distance` back to `at`, byte by byte (so a copy may overlap itself).
void Repeat(Bytes& bytes, std::size_t at, std::size_t distance, std::size_t length) {
  for (std::size_t i = at; i < at + length; ++i) bytes[i] = bytes[i - distance];
}

std::vector<Sample> Samples() {
  std::vector<Sample> samples = {{"random", codec_test::RandomBytes(70000, 1)},
                                 {"zeros", Bytes(70000, 0)},
                                 {"text", codec_test::TextLike(70000, 2)},
                                 {"runs of every length", codec_test::RunHeavy(70000, 3)}};
  // Runs across the edges of every chunk size used below: around an edge, longer than a chunk,
  // ending at an edge, starting at one, and a 517-byte run one byte past one.
  Bytes runs = codec_test::TextLike(90000, 4);
  Fill(runs, 16384 - 3000, 16384 + 3000, 0);
  Fill(runs, 30000, 47000, 0xFF);
  Fill(runs, 57344 - 700, 57344, 'A');
  Fill(runs, 61440, 61440 + 517, 0);
  Fill(runs, 73729, 73729 + 517, 0);
  samples.push_back({"runs across chunk edges", runs});
  // Matches that reach back over an edge: a stretch before each 4096-byte edge repeated just after
  // it, and a 600-byte one from almost a 4096-byte dictionary back.
  Bytes back = codec_test::RandomBytes(70000, 5);
  for (std::size_t edge = 8192; edge + 4096 < back.size(); edge += 4096) {
    Repeat(back, edge + 200, 1100, 600);
    Repeat(back, edge - 100, 3900, 600);
  }
  samples.push_back({"matches across chunk edges", back});
  // Periods in which the pieces' parses keep their own phase until something breaks the pattern.
  for (std::size_t period : {1u, 3u, 516u, 517u}) {
    Bytes bytes = codec_test::Periodic(45000, period, static_cast<std::uint32_t>(period));
    for (std::size_t i = 20000; i < bytes.size(); i += 9001) bytes[i] ^= 0x5A;
    samples.push_back({"period " + std::to_string(period), bytes});
  }
  const Bytes dll = SystemDll();
  if (!dll.empty()) samples.push_back({"DLL", dll});
  return samples;
}

const ImplodePieceLimits kLimits[] = {
    {4096, 0, 1},      // chunks of one block, shorter than the window, no run-on at all
    {4096, 700, 2},    // a run-on shorter than a chunk
    {8192, 5000, 3},   // one longer than a dictionary
    {12288, 40, 1},    // one too short for most parses to meet
    {65536, 8192, 4},  // as the builder cuts, smaller
};

std::string Describe(const ImplodePieceLimits& limits, std::uint32_t mode, std::uint32_t dictionary) {
  return "chunk " + std::to_string(limits.chunk) + ", run-on " + std::to_string(limits.runOn) + ", in flight " +
         std::to_string(limits.inFlight) + ", mode " + std::to_string(mode) + ", dictionary " +
         std::to_string(dictionary);
}

TEST(ImplodePieces, SameBytesAsOneCodingForEveryKindOfData) {
  for (const Sample& sample : Samples()) {
    for (std::uint32_t mode : {0u, 1u}) {
      for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
        const Bytes whole = codec_test::Implode(sample.bytes, mode, dictionary);
        for (const ImplodePieceLimits& limits : kLimits) {
          ASSERT_EQ(codec_test::ImplodePieces(sample.bytes, mode, dictionary, limits), whole)
              << sample.name << ", " << Describe(limits, mode, dictionary);
        }
      }
    }
  }
}

TEST(ImplodePieces, SameBytesWhereverTheInputEnds) {
  // The last two passes decide by where they began: inputs ending in every part of a pass, after
  // data whose parses meet late (periods, changed here and there) or at once (text), with chunks
  // of one and two blocks. Near a full last block the last pass's comparisons read its sorted
  // entries, which a piece that guessed where the pass began would get wrong.
  std::vector<Bytes> sources = {codec_test::Periodic(6 * 4096, 97, 6), codec_test::TextLike(6 * 4096, 7)};
  for (std::size_t period : {10u, 184u, 558u}) {
    Bytes bytes = codec_test::Periodic(6 * 4096, period, static_cast<std::uint32_t>(period));
    for (std::size_t i = 1000; i < bytes.size(); i += 1777) bytes[i] ^= 0x21;
    sources.push_back(bytes);
  }
  for (std::size_t blocks = 0; blocks < 6; ++blocks) {
    for (std::size_t tail : {0u, 1u, 515u, 516u, 3579u, 3580u, 3581u, 3700u, 3900u, 4095u}) {
      for (const Bytes* source : {&sources[0], &sources[1], &sources[2], &sources[3], &sources[4]}) {
        const Bytes input(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(4096 * blocks + tail));
        for (std::uint32_t dictionary : {1024u, 4096u}) {
          const Bytes whole = codec_test::Implode(input, 0, dictionary);
          for (const ImplodePieceLimits& limits : {ImplodePieceLimits{4096, 0, 2}, ImplodePieceLimits{8192, 600, 1}}) {
            ASSERT_EQ(codec_test::ImplodePieces(input, 0, dictionary, limits), whole)
                << input.size() << " bytes, " << Describe(limits, 0, dictionary);
          }
        }
      }
    }
  }
}

// A period (of small or any bytes, changed here and there, in one kind ending in a small alphabet)
// over two to four blocks and a last one of 3500 bytes or more: matches run to the end of the data,
// where the last pass's comparisons read its sorted entries.
Bytes EndsNearAFullBlock(std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::size_t blocks = 2 + random() % 3;
  const std::size_t size = 4096 * blocks + 3500 + random() % 596;
  const std::uint32_t kind = random() % 3;
  Bytes pattern(1 + random() % 600);
  for (auto& byte : pattern) byte = static_cast<std::uint8_t>(random() % (kind == 0 ? 4 : 256));
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = pattern[i % pattern.size()];
  for (std::uint32_t changes = random() % 20; changes-- > 0;) {
    const auto byte = static_cast<std::uint8_t>(random());
    bytes[random() % size] = byte;
  }
  if (kind == 2) {
    for (std::size_t i = size - 600; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(random() % 3);
  }
  return bytes;
}

TEST(ImplodePieces, SameBytesWhenTheInputEndsNearAFullBlock) {
  // With these, a piece joined in the input's last two passes (where it guessed where they began)
  // gives other bytes.
  for (std::uint32_t seed : {41u, 49u, 50u, 60u}) {
    const Bytes input = EndsNearAFullBlock(seed);
    const Bytes whole = codec_test::Implode(input, 0, 4096);
    for (std::uint32_t runOn : {0u, 200u}) {
      ASSERT_EQ(codec_test::ImplodePieces(input, 0, 4096, {4096, runOn, 2}), whole) << "seed " << seed << ", run-on " << runOn;
    }
  }
}

TEST(ImplodePieces, DeliverySizesDoNotChangeTheStream) {
  const Bytes input = codec_test::TextLike(30000, 8);
  const Bytes whole = codec_test::Implode(input, 0, 4096);
  for (std::uint32_t delivery : {1u, 1000u, 4097u}) {
    EXPECT_EQ(codec_test::ImplodePieces(input, 0, 4096, {4096, 700, 2}, delivery), whole) << delivery;
  }
}

TEST(ImplodePieces, RefusesBadSettingsBeforeReading) {
  struct Case {
    std::uint32_t mode, dictionary;
    ImplodePieceLimits limits;
    ImplodeResult result;
  };
  const Case cases[] = {{0, 1000, {4096, 0, 1}, kImplodeBadDictionary},
                        {2, 4096, {4096, 0, 1}, kImplodeBadLiteralMode},
                        {0, 4096, {6000, 0, 1}, kImplodeBadPieceLimits},
                        {0, 4096, {0, 0, 1}, kImplodeBadPieceLimits},
                        {0, 4096, {4096, 0, 0}, kImplodeBadPieceLimits}};
  for (const Case& c : cases) {
    int calls = 0;
    auto read = [](std::uint8_t*, std::uint32_t*, void* calls) -> std::uint32_t {
      ++*static_cast<int*>(calls);
      return 0;
    };
    auto write = [](std::uint8_t*, std::uint32_t*, void* calls) { ++*static_cast<int*>(calls); };
    ImplodePiecesInTurn runner;
    EXPECT_EQ(ImplodeInPieces(read, write, &calls, c.mode, c.dictionary, c.limits, runner), c.result);
    EXPECT_EQ(calls, 0);
  }
}

TEST(ImplodePieces, APieceRefusesInputThatDoesNotCoverIt) {
  const Bytes input = codec_test::TextLike(40000, 9);
  auto state = std::make_unique<ImplodeState>();
  ImplodePiece piece;
  piece.input = input.data() + 8192;
  piece.inputOffset = 8192;
  piece.inputLength = input.size() - 8192;
  piece.start = piece.passStart = 16384 - 516;
  piece.previousPassStart = piece.start - 4096;
  piece.stop = 20000;
  // The window of the pass before the start's pass begins 8708 bytes before the start's block.
  ImplodeCodePiece(piece, state.get());
  EXPECT_EQ(piece.result, kImplodePieceInput);
  piece.input = input.data() + 4096;
  piece.inputOffset = 4096;
  piece.inputLength = input.size() - 4096;
  ImplodeCodePiece(piece, state.get());
  EXPECT_EQ(piece.result, kImplodeOk);
  // Short of the block after the stop's pass, and not the input's end.
  piece.inputLength = PieceInputEnd(piece.stop) - 4096 - 1;
  ImplodeCodePiece(piece, state.get());
  EXPECT_EQ(piece.result, kImplodePieceInput);
}

}  // namespace
