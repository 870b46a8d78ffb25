// Helpers shared by the codec tests: running the stream coders over byte vectors with controllable
// callbacks, writing streams bit by bit, listing the tokens of a stream, and test data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/explode.h"
#include "codec/implode.h"
#include "codec/implode_pieces.h"

namespace codec_test {

using Bytes = std::vector<std::uint8_t>;

Bytes FromString(const std::string& text);

// Compresses with ImplodeStream on a fresh zero-filled state. The read callback delivers at most
// `readChunk` bytes per call; `pieces` (if given) receives the size of every write.
Bytes Implode(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize,
              std::uint32_t readChunk = 0xFFFFFFFFu, std::vector<std::uint32_t>* pieces = nullptr);
// The same on the caller's record, whatever it holds.
Bytes ImplodeWith(ImplodeState& state, const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize);

// Compresses with ImplodeInPieces, coding the pieces in turn on this thread.
Bytes ImplodePieces(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize,
                    const ImplodePieceLimits& limits, std::uint32_t readChunk = 0xFFFFFFFFu);

struct Exploded {
  ExplodeResult result;
  Bytes output;
  std::vector<std::uint32_t> chunks;  // size of every write, in order
  std::uint32_t reads;                // read callback calls
};

// Decodes with ExplodeStream on a fresh zero-filled state. The read callback delivers at most
// `firstRead` bytes on its first call and `laterReads` on later ones.
Exploded Explode(const Bytes& stream, std::uint32_t firstRead = 2048, std::uint32_t laterReads = 2048);

// Writes streams field by field, least significant bit first, with the product's code tables.
class StreamWriter {
 public:
  StreamWriter(std::uint8_t literalMode, std::uint8_t dictionaryBits);
  void Bits(std::uint32_t count, std::uint32_t value);
  void Literal(std::uint8_t byte);
  void Match(std::uint32_t length, std::uint32_t distance);
  void End();
  Bytes Finish() const;  // padded to a whole byte

 private:
  Bytes bytes_;
  std::uint32_t bitCount_ = 0;
  std::uint8_t literalMode_;
  std::uint8_t dictionaryBits_;
};

// One token of a stream: a literal (length 0) or a match.
struct Token {
  std::uint32_t offset;    // output offset where the token starts
  std::uint32_t length;    // 0 for a literal
  std::uint32_t distance;  // matches only
  std::uint8_t byte;       // literals only
  bool operator==(const Token& other) const {
    return offset == other.offset && length == other.length && distance == other.distance && byte == other.byte;
  }
};

// Lists the tokens of a complete stream with a bit-by-bit reader of its own (prefix codes matched
// against the tables row by row). Fails the current test on a malformed stream.
std::vector<Token> ParseTokens(const Bytes& stream);
std::string Describe(const Token& token);

// Test data. All deterministic for a seed.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes TextLike(std::size_t size, std::uint32_t seed);
Bytes RunHeavy(std::size_t size, std::uint32_t seed);
Bytes Periodic(std::size_t size, std::size_t period, std::uint32_t seed);
Bytes SmallAlphabet(std::size_t size, std::uint32_t letters, std::uint32_t seed);
// Bytes 0x80-0xFF in an order where no two consecutive bytes repeat as a pair, for up to 16384
// bytes: filler that offers the encoder no match at all.
Bytes Unrepeating(std::size_t size, std::size_t skip = 0);

// The stream length bound: every byte a 9-bit literal, plus header and end code.
std::size_t MaxStreamLength(std::size_t inputLength);

// A deliberately plain encoder written straight from the coding rules (a scan of every candidate
// position instead of prefix chains, its own window and bit writer). Its output is the reference that
// ImplodeStream must match byte for byte.
Bytes ReferenceImplode(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize);

}  // namespace codec_test
