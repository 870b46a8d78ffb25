// Helpers shared by the codec tests (see codec_test_support.h).
#include "codec_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace codec_test {
namespace {

struct Source {
  const Bytes* data;
  std::size_t position;
  std::uint32_t firstChunk;
  std::uint32_t laterChunk;
  std::uint32_t calls;
  bool ended;
};

struct Sink {
  Bytes bytes;
  std::vector<std::uint32_t> pieces;
};

// Both callbacks receive the same parameter.
struct Io {
  Source source;
  Sink sink;
};

std::uint32_t ReadSource(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& source = static_cast<Io*>(parameter)->source;
  // A coder must never come back after being told the input has ended.
  EXPECT_FALSE(source.ended) << "read after the end of the input";
  const std::uint32_t chunk = source.calls == 0 ? source.firstChunk : source.laterChunk;
  ++source.calls;
  const std::size_t left = source.data->size() - source.position;
  const auto count = static_cast<std::uint32_t>(std::min<std::size_t>({*size, chunk, left}));
  std::copy_n(source.data->begin() + static_cast<std::ptrdiff_t>(source.position), count, buffer);
  source.position += count;
  if (count == 0) source.ended = true;
  return count;
}

void WriteSink(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& sink = static_cast<Io*>(parameter)->sink;
  sink.bytes.insert(sink.bytes.end(), buffer, buffer + *size);
  sink.pieces.push_back(*size);
}

}  // namespace

Bytes FromString(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Implode(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize, std::uint32_t readChunk,
              std::vector<std::uint32_t>* pieces) {
  auto state = std::make_unique<ImplodeState>();
  Io io{{&input, 0, readChunk, readChunk, 0, false}, {}};
  EXPECT_EQ(ImplodeStream(ReadSource, WriteSink, state.get(), &io, literalMode, dictionarySize), kImplodeOk);
  if (pieces != nullptr) *pieces = io.sink.pieces;
  return io.sink.bytes;
}

Bytes ImplodeWith(ImplodeState& state, const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize) {
  Io io{{&input, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, false}, {}};
  EXPECT_EQ(ImplodeStream(ReadSource, WriteSink, &state, &io, literalMode, dictionarySize), kImplodeOk);
  return io.sink.bytes;
}

Bytes ImplodePieces(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize,
                    const ImplodePieceLimits& limits, std::uint32_t readChunk) {
  ImplodePiecesInTurn runner;
  Io io{{&input, 0, readChunk, readChunk, 0, false}, {}};
  EXPECT_EQ(ImplodeInPieces(ReadSource, WriteSink, &io, literalMode, dictionarySize, limits, runner), kImplodeOk);
  return io.sink.bytes;
}

Exploded Explode(const Bytes& stream, std::uint32_t firstRead, std::uint32_t laterReads) {
  auto state = std::make_unique<ExplodeState>();
  Io io{{&stream, 0, firstRead, laterReads, 0, false}, {}};
  const ExplodeResult result = ExplodeStream(ReadSource, WriteSink, state.get(), &io);
  return {result, io.sink.bytes, io.sink.pieces, io.source.calls};
}

StreamWriter::StreamWriter(std::uint8_t literalMode, std::uint8_t dictionaryBits)
    : bytes_{literalMode, dictionaryBits}, literalMode_(literalMode), dictionaryBits_(dictionaryBits) {}

void StreamWriter::Bits(std::uint32_t count, std::uint32_t value) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (bitCount_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (((value >> i) & 1) << (bitCount_ % 8)));
    ++bitCount_;
  }
}

void StreamWriter::Literal(std::uint8_t byte) {
  Bits(1, 0);
  if (literalMode_ == kLiteralBinary) {
    Bits(8, byte);
  } else {
    Bits(AsciiLiteralCodes[byte].bits, AsciiLiteralCodes[byte].value);
  }
}

void StreamWriter::Match(std::uint32_t length, std::uint32_t distance) {
  Bits(1, 1);
  const std::uint32_t value = length - 2;
  std::uint32_t code = kLengthCodeCount - 1;
  while (LengthCodes[code].base > value) --code;
  Bits(LengthCodes[code].bits, LengthCodes[code].value);
  Bits(LengthCodes[code].extraBits, value - LengthCodes[code].base);
  const std::uint32_t v = distance - 1;
  const std::uint32_t lowBits = length == 2 ? 2 : dictionaryBits_;
  Bits(DistanceCodes[v >> lowBits].bits, DistanceCodes[v >> lowBits].value);
  Bits(lowBits, v & ((1u << lowBits) - 1));
}

void StreamWriter::End() {
  Bits(1, 1);
  Bits(7, 0);
  Bits(8, 0xFF);
}

Bytes StreamWriter::Finish() const { return bytes_; }

namespace {

class BitReader {
 public:
  explicit BitReader(const Bytes& bytes) : bytes_(bytes) {}
  bool Bit(std::uint32_t& bit) {
    if (position_ >= bytes_.size() * 8) return false;
    bit = (bytes_[position_ / 8] >> (position_ % 8)) & 1;
    ++position_;
    return true;
  }
  bool Field(std::uint32_t count, std::uint32_t& value) {
    value = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t bit;
      if (!Bit(bit)) return false;
      value |= bit << i;
    }
    return true;
  }
  // Reads bits until they equal one row's code; the codes are prefix-free, so the first hit is it.
  template <typename Row, std::size_t N>
  bool Code(const Row (&rows)[N], std::uint32_t& symbol) {
    std::uint32_t value = 0;
    for (std::uint32_t length = 1; length <= 16; ++length) {
      std::uint32_t bit;
      if (!Bit(bit)) return false;
      value |= bit << (length - 1);
      for (std::size_t row = 0; row < N; ++row) {
        if (rows[row].bits == length && rows[row].value == value) {
          symbol = static_cast<std::uint32_t>(row);
          return true;
        }
      }
    }
    return false;
  }
  std::size_t Position() const { return position_; }

 private:
  const Bytes& bytes_;
  std::size_t position_ = 16;  // after the header
};

}  // namespace

std::vector<Token> ParseTokens(const Bytes& stream) {
  std::vector<Token> tokens;
  if (stream.size() < 2) {
    ADD_FAILURE() << "stream without a header";
    return tokens;
  }
  const std::uint32_t literalMode = stream[0];
  const std::uint32_t dictionaryBits = stream[1];
  BitReader reader(stream);
  std::uint32_t offset = 0;
  for (;;) {
    std::uint32_t flag, symbol;
    if (!reader.Bit(flag)) break;
    if (flag == 0) {
      std::uint32_t byte;
      const bool ok = literalMode == kLiteralBinary ? reader.Field(8, byte) : reader.Code(AsciiLiteralCodes, byte);
      if (!ok) break;
      tokens.push_back({offset++, 0, 0, static_cast<std::uint8_t>(byte)});
      continue;
    }
    std::uint32_t extra;
    if (!reader.Code(LengthCodes, symbol) || !reader.Field(LengthCodes[symbol].extraBits, extra)) break;
    const std::uint32_t value = LengthCodes[symbol].base + extra;
    if (value == kEndCodeValue) {
      // Padding after the end code is zero bits up to the byte boundary, nothing more.
      EXPECT_EQ((reader.Position() + 7) / 8, stream.size()) << "bytes after the end code";
      std::uint32_t pad = 0;
      reader.Field(static_cast<std::uint32_t>(stream.size() * 8 - reader.Position()), pad);
      EXPECT_EQ(pad, 0u) << "non-zero padding";
      return tokens;
    }
    std::uint32_t part, low;
    const std::uint32_t lowBits = value == 0 ? 2 : dictionaryBits;
    if (!reader.Code(DistanceCodes, part) || !reader.Field(lowBits, low)) break;
    tokens.push_back({offset, value + 2, (part << lowBits) + low + 1, 0});
    offset += value + 2;
  }
  ADD_FAILURE() << "stream ends before its end code";
  return tokens;
}

std::string Describe(const Token& token) {
  if (token.length == 0) return "@" + std::to_string(token.offset) + " literal " + std::to_string(token.byte);
  return "@" + std::to_string(token.offset) + " match " + std::to_string(token.length) + " at " +
         std::to_string(token.distance);
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

Bytes TextLike(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the", "install", "package", "file", "of", "and", "setup", "to", "a", "version", "is", "Windows",
      "extract", "temporary", "directory", "restart", "in", "for", "with", "[Files]", "File01=", "Msg02=",
      "compression", "dictionary", "window", "match", "literal", "stream", "\r\n", "\r\n\r\n", "=", "0",
      "1", "2010", "C:\\Program Files\\", ".dll", ".exe", ";", "(x86)", "QOR", "e", "s"};
  std::mt19937 random(seed);
  Bytes bytes;
  while (bytes.size() < size) {
    const std::string word = kWords[random() % (sizeof kWords / sizeof kWords[0])];
    bytes.insert(bytes.end(), word.begin(), word.end());
    bytes.push_back(random() % 7 == 0 ? '\n' : ' ');
  }
  bytes.resize(size);
  return bytes;
}

Bytes RunHeavy(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes;
  while (bytes.size() < size) {
    const auto byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
    const std::size_t run = 1 + random() % (random() % 8 == 0 ? 1200 : 20);
    bytes.insert(bytes.end(), run, byte);
  }
  bytes.resize(size);
  return bytes;
}

Bytes Periodic(std::size_t size, std::size_t period, std::uint32_t seed) {
  const Bytes pattern = RandomBytes(period, seed);
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = pattern[i % period];
  return bytes;
}

Bytes SmallAlphabet(std::size_t size, std::uint32_t letters, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>('a' + random() % letters);
  return bytes;
}

Bytes Unrepeating(std::size_t size, std::size_t skip) {
  // An Eulerian walk over all pairs of 128 symbols: from symbol a, take the next unused successor.
  // Every pair appears at most once in the walk.
  constexpr std::uint32_t kSymbols = 128;
  std::vector<std::uint32_t> nextSuccessor(kSymbols, 0);
  Bytes bytes;
  std::uint32_t current = 0;
  bytes.push_back(0x80);
  while (bytes.size() < size + skip) {
    // Successors in the order current+1, current+2, ..., current (the loop last), which keeps the
    // walk from getting stuck before all pairs are used.
    if (nextSuccessor[current] == kSymbols) break;
    const std::uint32_t next = (current + 1 + nextSuccessor[current]++) % kSymbols;
    bytes.push_back(static_cast<std::uint8_t>(0x80 + next));
    current = next;
  }
  EXPECT_GE(bytes.size(), size + skip) << "filler request too long";
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), size + skip)));
}

std::size_t MaxStreamLength(std::size_t inputLength) { return 4 + (9 * inputLength + 7) / 8; }

}  // namespace codec_test
