// The implode-stream decoder and its memory-to-memory wrapper.
#include "codec/explode.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "codec/memory_transfer.h"

namespace {

// The longest token (match flag, 7-bit length code, 8 extra bits, 8-bit distance code, 6 low bits)
// plus the 8-bit look-ahead that must remain after it. With this many bits in hand a token cannot
// run out of input, so it is decoded without checks.
constexpr std::uint32_t kSafeTokenBits = 1 + 7 + 8 + 8 + 6 + 8;

// The binary-mode loop's table of match heads: the 12 bits after a match flag give, when the
// token's length code, extra bits and distance code fit them (most matches), all of the token but
// its low distance bits. Entries are read a field at a time, so that no shifts and masks go into
// taking one apart, and the one field that the next round waits for, the token's bit count, has a
// table of its own:
// - totals: the bits of the whole token, flag, codes, extra and low bits (at most 19); 0 when the
//   head does not fit the 12 bits, and for the end code;
// - MatchRest::keepShift: 64 - the number of low distance bits (2 for length 2, else the dictionary
//   size); with the token shifted up to the top of the buffer, this right shift leaves its low bits;
// - MatchRest::length: the match length (at most 39: a head that fits has a length code of at most
//   10 bits with its extra bits, and the shortest distance code takes 2);
// - MatchRest::base: the distance without its low bits (the high part shifted past them, plus 1).
// Both are indexed with the 12 bits in place behind the flag, which are twice the index: the total
// lies that many bytes in, the rest twice as many.
constexpr std::uint32_t kMatchIndexBits = 12;
struct MatchRest {
  std::uint8_t keepShift;
  std::uint8_t length;
  std::uint16_t base;
};
struct MatchTable {
  std::uint16_t totals[1u << kMatchIndexBits];
  MatchRest rest[1u << kMatchIndexBits];
};

// The code tables of the decoder, the same for every stream: built once per process and shared
// read-only by all decoders, so that a stream costs no table set-up however short it is.
struct DecoderTables {
  std::uint8_t distanceTable[256];   // next 8 bits -> distance high part
  std::uint8_t lengthTable[256];     // next 8 bits -> length code
  std::uint8_t asciiFirst[256];      // next 8 bits -> byte of a code of at most 8 bits, or 255: look further
  std::uint8_t asciiSecond[256];     // after dropping 4 bits: next 8 bits -> byte
  std::uint8_t asciiThird[128];      // after dropping 6 bits: next 7 bits -> byte
  std::uint8_t asciiFourth[256];     // after dropping 8 zero bits: next 8 bits -> byte
  std::uint8_t asciiRemaining[256];  // per byte: code bits still to drop after the final lookup
  std::uint8_t distanceBitLengths[kDistanceCodeCount];
  std::uint8_t lengthBitLengths[kLengthCodeCount];
  std::uint8_t extraBitCounts[kLengthCodeCount];
  std::uint16_t lengthBases[kLengthCodeCount];
  // The same codes for the binary-mode fast path, one lookup each: the 8 bits after a match flag ->
  // length base << 16 | extra-bit count << 8 | bits of flag and code; the next 8 bits at the
  // distance -> high part << 8 | bits of its code.
  std::uint32_t lengthEntries[256];
  std::uint16_t distanceEntries[256];
  // Whole match heads in one lookup, per dictionary size (4, 5, 6 low bits), for the heads that fit
  // the 12 bits after the flag (most matches).
  MatchTable matchTables[kMaxDictionaryBits - kMinDictionaryBits + 1];
};

// Enters a prefix code into a lookup table indexed by the next stream bits: every index whose low
// `bits` bits are the code.
void FillTable(std::uint8_t* table, std::uint32_t tableSize, std::uint32_t bits, std::uint32_t code,
               std::uint8_t symbol) {
  for (std::uint32_t i = code; i < tableSize; i += 1u << bits) table[i] = symbol;
}

void BuildLengthAndDistanceTables(DecoderTables& tables) {
  for (std::uint32_t code = 0; code < kLengthCodeCount; ++code) {
    tables.lengthBitLengths[code] = LengthCodes[code].bits;
    tables.extraBitCounts[code] = LengthCodes[code].extraBits;
    tables.lengthBases[code] = LengthCodes[code].base;
  }
  for (std::uint32_t part = 0; part < kDistanceCodeCount; ++part) {
    tables.distanceBitLengths[part] = DistanceCodes[part].bits;
  }
  // Every length and distance code has at most 8 bits, so one lookup of the look-ahead finds it.
  for (std::uint32_t code = kLengthCodeCount; code-- > 0;) {
    FillTable(tables.lengthTable, 256, LengthCodes[code].bits, LengthCodes[code].value,
              static_cast<std::uint8_t>(code));
  }
  for (std::uint32_t part = kDistanceCodeCount; part-- > 0;) {
    FillTable(tables.distanceTable, 256, DistanceCodes[part].bits, DistanceCodes[part].value,
              static_cast<std::uint8_t>(part));
  }
  for (std::uint32_t next = 0; next < 256; ++next) {
    const LengthCode& length = LengthCodes[tables.lengthTable[next]];
    tables.lengthEntries[next] = (std::uint32_t{length.base} << 16) | (std::uint32_t{length.extraBits} << 8) |
                                 (1u + length.bits);
    const std::uint32_t part = tables.distanceTable[next];
    tables.distanceEntries[next] = static_cast<std::uint16_t>((part << 8) | DistanceCodes[part].bits);
  }
  for (std::uint32_t dictionaryBits = kMinDictionaryBits; dictionaryBits <= kMaxDictionaryBits; ++dictionaryBits) {
    MatchTable& table = tables.matchTables[dictionaryBits - kMinDictionaryBits];
    for (std::uint32_t next = 0; next < (1u << kMatchIndexBits); ++next) {
      const LengthCode& length = LengthCodes[tables.lengthTable[next & 0xFF]];
      const std::uint32_t headBits = length.bits + length.extraBits;
      table.totals[next] = 0;
      table.rest[next] = MatchRest{};
      if (headBits > kMatchIndexBits) continue;
      const std::uint32_t value = length.base + ((next >> length.bits) & ((1u << length.extraBits) - 1));
      if (value == kEndCodeValue) continue;
      // Past the head only 12 - headBits of the index's bits are the stream's; the lookup sees zeros
      // above them, which decide nothing about a code that fits in the rest.
      const std::uint32_t part = tables.distanceTable[(next >> headBits) & 0xFF];
      const std::uint32_t partBits = DistanceCodes[part].bits;
      if (headBits + partBits > kMatchIndexBits) continue;
      const std::uint32_t lowCount = value == 0 ? 2 : dictionaryBits;
      const std::uint32_t total = 1 + headBits + partBits + lowCount;
      table.totals[next] = static_cast<std::uint16_t>(total);
      table.rest[next] = MatchRest{static_cast<std::uint8_t>(64 - lowCount), static_cast<std::uint8_t>(value + 2),
                                   static_cast<std::uint16_t>((part << lowCount) + 1)};
    }
  }
}

// ASCII codes run to 13 bits, more than one 8-bit lookup can see. Codes of at most 8 bits are found
// at once; a longer one is found after dropping the bits that the first lookup already identified
// as its start: 4 bits (low 6 code bits not all zero), 6 bits (low 8 not all zero) or 8 zero bits.
// The code table is arranged so that what remains always fits the next lookup.
void BuildAsciiTables(DecoderTables& tables) {
  for (std::uint32_t symbol = kAsciiCodeCount; symbol-- > 0;) {
    const std::uint32_t bits = AsciiLiteralCodes[symbol].bits;
    const std::uint32_t code = AsciiLiteralCodes[symbol].value;
    const auto byte = static_cast<std::uint8_t>(symbol);
    if (bits <= 8) {
      FillTable(tables.asciiFirst, 256, bits, code, byte);
      tables.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits);
    } else if ((code & 0xFF) != 0) {
      tables.asciiFirst[code & 0xFF] = 255;
      if ((code & 0x3F) != 0) {
        tables.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 4);
        FillTable(tables.asciiSecond, 256, bits - 4, code >> 4, byte);
      } else {
        tables.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 6);
        FillTable(tables.asciiThird, 128, bits - 6, code >> 6, byte);
      }
    } else {
      tables.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 8);
      FillTable(tables.asciiFourth, 256, bits - 8, code >> 8, byte);
    }
  }
}

// Built on first use, by Tables(); the initialisation of a function's static is thread-safe. The
// loop for 32-bit registers reads the record by name, so that its tables' addresses are constants
// there and take no register.
DecoderTables decoderTables;
const DecoderTables& Tables() {
  static const bool built = [] {
    BuildLengthAndDistanceTables(decoderTables);
    BuildAsciiTables(decoderTables);
    return true;
  }();
  static_cast<void>(built);
  return decoderTables;
}

// Every host the system builds for is little-endian, so the next 8 stream bytes are one plain load.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word refill assumes a little-endian host");
#endif
inline std::uint64_t LoadLittleEndian64(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The stream reader, kept in locals while the main loop runs. Bits enter the buffer from the input
// a byte or a word at a time; bits above `count` are either zero or already the following input
// bytes in their final places, so loading those bytes again changes nothing.
struct BitReader {
  ExplodeState& state;
  std::uint64_t bits;
  std::uint32_t count;
  std::uint32_t position;
  std::uint32_t available;
  const std::uint8_t* input;  // the delivered bytes: in the record's input, or a whole stream in memory
  bool inputEnded;            // a read delivered 0: the callback is not asked again

  // Keeps at least 32 delivered bytes ahead of the position, what the fast loops need, while the
  // input lasts: the bytes not used yet, and up to 8 before them (the 32-bit loop takes the bits in
  // the buffer from there), move in front of the read buffer, and the next read follows them.
  void KeepAhead() {
    while (available - position < 32 && !inputEnded) {
      const std::uint32_t before = position < 8 ? position : 8;
      const std::uint32_t kept = available - position + before;
      std::uint8_t* const readBuffer = state.input + kExplodeInputCarry;
      std::memmove(readBuffer - kept, input + position - before, kept);
      input = readBuffer - kept;
      position = before;
      available = kept;
      std::uint32_t size = kExplodeInputSize;
      const std::uint32_t got = state.read(readBuffer, &size, state.parameter);
      inputEnded = got == 0;
      available += got < kExplodeInputSize ? got : kExplodeInputSize;
    }
  }

  // Tops the buffer up from the bytes already delivered; never calls the read callback.
  void Refill() {
    if (available - position >= 8) {
      bits |= LoadLittleEndian64(input + position) << count;
      position += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56 && position < available) {
      bits |= std::uint64_t{input[position++]} << count;
      count += 8;
    }
  }

  // Makes `wanted` bits available, asking the read callback for more input only when every
  // delivered byte is in use; false when the input has ended.
  bool Ensure(std::uint32_t wanted) {
    while (count < wanted) {
      if (position == available) {
        if (inputEnded) return false;
        std::uint8_t* const readBuffer = state.input + kExplodeInputCarry;
        std::uint32_t size = kExplodeInputSize;
        const std::uint32_t got = state.read(readBuffer, &size, state.parameter);
        inputEnded = got == 0;
        if (inputEnded) return false;
        input = readBuffer;
        available = got < kExplodeInputSize ? got : kExplodeInputSize;
        position = 0;
      }
      bits |= std::uint64_t{input[position++]} << count;
      count += 8;
    }
    return true;
  }

  // Drops n bits (0 to 8) while keeping the 8-bit look-ahead. Checked: fails when the input ends
  // first. Unchecked: the caller has made sure the bits are there.
  template <bool kChecked>
  bool Drop(std::uint32_t n) {
    if (kChecked && !Ensure(n + 8)) return false;
    bits >>= n;
    count -= n;
    return true;
  }
};

enum class TokenKind { kLiteral, kMatch, kEnd, kInputEnded };

struct Token {
  TokenKind kind;
  std::uint32_t value;     // literal byte or match length
  std::uint32_t distance;  // match distance, 1 upward
};

// Reads one token. Checked decoding follows the input to its last byte, so every token that is
// followed by the 8 bits of look-ahead is still delivered, and an end code may end exactly on the
// last bit of the input.
template <bool kChecked>
inline Token DecodeToken(BitReader& reader, const ExplodeState& state, const DecoderTables& tables) {
  const Token ended{TokenKind::kInputEnded, 0, 0};
  if ((reader.bits & 1) == 0) {
    if (!reader.Drop<kChecked>(1)) return ended;
    std::uint32_t byte;
    if (state.literalMode == kLiteralBinary) {
      byte = static_cast<std::uint32_t>(reader.bits & 0xFF);
      if (!reader.Drop<kChecked>(8)) return ended;
    } else {
      const auto lookAhead = static_cast<std::uint32_t>(reader.bits & 0xFF);
      if (lookAhead == 0) {
        if (!reader.Drop<kChecked>(8)) return ended;
        byte = tables.asciiFourth[reader.bits & 0xFF];
      } else {
        byte = tables.asciiFirst[lookAhead];
        if (byte == 255) {
          if ((lookAhead & 0x3F) != 0) {
            if (!reader.Drop<kChecked>(4)) return ended;
            byte = tables.asciiSecond[reader.bits & 0xFF];
          } else {
            if (!reader.Drop<kChecked>(6)) return ended;
            byte = tables.asciiThird[reader.bits & 0x7F];
          }
        }
      }
      if (!reader.Drop<kChecked>(tables.asciiRemaining[byte])) return ended;
    }
    return {TokenKind::kLiteral, byte, 0};
  }

  if (!reader.Drop<kChecked>(1)) return ended;
  const std::uint32_t code = tables.lengthTable[reader.bits & 0xFF];
  if (!reader.Drop<kChecked>(tables.lengthBitLengths[code])) return ended;
  const std::uint32_t extraBits = tables.extraBitCounts[code];
  const auto extra = static_cast<std::uint32_t>(reader.bits & ((1u << extraBits) - 1));
  // The end code's extra bits may be the last bits of the input: it needs no look-ahead after it.
  if (!reader.Drop<kChecked>(extraBits) && tables.lengthBases[code] + extra != kEndCodeValue) return ended;
  const std::uint32_t value = tables.lengthBases[code] + extra;
  if (value == kEndCodeValue) return {TokenKind::kEnd, 0, 0};
  const std::uint32_t length = value + 2;

  const std::uint32_t highPart = tables.distanceTable[reader.bits & 0xFF];
  if (!reader.Drop<kChecked>(tables.distanceBitLengths[highPart])) return ended;
  std::uint32_t distance;
  if (length == 2) {
    distance = (highPart << 2) + static_cast<std::uint32_t>(reader.bits & 3);
    if (!reader.Drop<kChecked>(2)) return ended;
  } else {
    distance = (highPart << state.dictionaryBits) + static_cast<std::uint32_t>(reader.bits & state.dictionaryMask);
    if (!reader.Drop<kChecked>(state.dictionaryBits)) return ended;
  }
  return {TokenKind::kMatch, length, distance + 1};
}

inline void Copy8(std::uint8_t* destination, const std::uint8_t* source) { std::memcpy(destination, source, 8); }
inline void Copy16(std::uint8_t* destination, const std::uint8_t* source) { std::memcpy(destination, source, 16); }

// Copies a match oldest byte first, so a copy may repeat bytes it has just produced. Copies may
// write up to 15 bytes past the match (the window's slack takes them); they never read a byte that
// is not yet in place:
// - a source at least 8 bytes back moves its first 16 bytes as two 8-byte words whatever the length
//   (most matches are that short, so most copies take no branch on the length), then 16 bytes at a
//   time if it is at least 16 back, else 8: each piece is read wholly before the place it is
//   written to, so every byte read is final;
// - distances 1, 2 and 4 repeat the first `distance` bytes, spread over one 8-byte word (8 is a
//   multiple of each, so every word starts at the pattern's start);
// - distances 3, 5, 6 and 7 copy their first 8 bytes one at a time, then 8 at a time from the
//   nearest multiple of `distance` that is at least 8 back, which holds the same pattern.
[[gnu::always_inline]] inline void CopyMatch(std::uint8_t* destination, std::uint32_t distance, std::uint32_t length) {
  const std::uint8_t* source = destination - distance;
  if (distance >= 8) {
    Copy8(destination, source);
    Copy8(destination + 8, source + 8);
    if (length > 16) {
      if (distance >= 16) {
        for (std::uint32_t i = 16; i < length; i += 16) Copy16(destination + i, source + i);
      } else {
        for (std::uint32_t i = 16; i < length; i += 8) Copy8(destination + i, source + i);
      }
    }
  } else if ((distance & (distance - 1)) == 0) {
    std::uint64_t word;
    if (distance == 1) {
      word = source[0] * 0x0101010101010101ull;
    } else if (distance == 2) {
      std::uint16_t pair;
      std::memcpy(&pair, source, sizeof pair);
      word = pair * 0x0001000100010001ull;
    } else {
      std::uint32_t quad;
      std::memcpy(&quad, source, sizeof quad);
      word = quad * 0x0000000100000001ull;
    }
    for (std::uint32_t i = 0; i < length; i += 8) std::memcpy(destination + i, &word, sizeof word);
  } else {
    for (std::uint32_t i = 0; i < 8; ++i) destination[i] = source[i];
    // The nearest multiple of the distance that is at least 8, from a table: a division would cost
    // more than the copy. step < 8 + distance, so the first piece reads no farther back than the
    // source itself.
    static constexpr std::uint8_t kSteps[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    const std::uint32_t step = kSteps[distance];
    for (std::uint32_t i = 8; i < length; i += 8) Copy8(destination + i, destination + i - step);
  }
}

// Match flags of three literals in a row (9 bits each), and a stop bit right behind them.
constexpr std::uint64_t kThreeLiteralFlags = 1ull | 1ull << 9 | 1ull << 18;
constexpr std::uint64_t kThreeLiteralStop = 1ull << 27;

// The unchecked state of the binary-mode loop, kept in registers while it runs.
struct BinaryLoop {
  std::uint64_t bits;
  std::uint32_t count;
  std::uint32_t input;  // next byte of inputBuffer to load
  const std::uint8_t* inputBuffer;
  std::uint8_t* out;  // next output byte
};

// One round of the binary-mode loop: up to three literals, then, unless there were three, a match
// or the end code (false, with the end code's bits dropped). Starts with at least 31 bits in the
// buffer, enough for two literals and the 12 bits behind the next flag, so the table is indexed
// before the buffer is topped up; the top-up, which needs the count left after the literals, then
// runs beside the lookup instead of in the chain from one round's bits to the next. A top-up reads
// 8 input bytes, moves on by at most 7 and leaves at least 56 bits; a head from the table takes at
// most 19 of them, the rare longer match takes another top-up, so the next round again starts with
// 31 or more.
//
// The literals in front of the next match flag are taken without a branch per literal: the lowest
// set bit among the next three tokens' flag positions, with a stop bit behind them, is the number
// of bits they take (0, 9, 18 or 27). Their three bytes are stored whether they are literals or
// not; what lies past the literals is overwritten by the match that follows or by the next round.
//
// A match whose head fits the table costs one lookup in the chain from one round's bits to the
// next: its bit count. The rest of the match is loaded beside that chain. Measured, each step taken
// out of the chain, or a shift or mask less per round, sped the loop up by several percent.
template <std::uint32_t kDictionaryBits>
[[gnu::always_inline]] inline bool DecodeBinaryRound(const DecoderTables& tables, const MatchTable& matchTable, BinaryLoop& loop) {
  std::uint64_t bits = loop.bits;
  std::uint32_t count = loop.count;
  // Tops up the buffer; count ^ 63 is 63 - count for the counts a buffer holds, one step shorter.
  auto topUp = [&] {
    bits |= LoadLittleEndian64(loop.inputBuffer + loop.input) << count;
    loop.input += (count ^ 63) >> 3;
    count |= 56;
  };
  const auto literalBits = static_cast<std::uint32_t>(__builtin_ctzll((bits & kThreeLiteralFlags) | kThreeLiteralStop));
  std::uint8_t* out = loop.out;
  out[0] = static_cast<std::uint8_t>(bits >> 1);
  out[1] = static_cast<std::uint8_t>(bits >> 10);
  out[2] = static_cast<std::uint8_t>(bits >> 19);
  // literalBits / 9 for the four values it can take.
  out += literalBits >> 3;
  bits >>= literalBits;
  count -= literalBits;
  const std::uint64_t offset = bits & (((1u << kMatchIndexBits) - 1) << 1);
  topUp();
  if (literalBits != 27) {
    std::uint32_t length;
    std::uint32_t distance;
    std::uint16_t total;
    std::memcpy(&total, reinterpret_cast<const std::uint8_t*>(matchTable.totals) + offset, sizeof total);
    if (total != 0) {
      // Read in place, a field at a time: copied out whole, the entry would be taken apart again.
      const auto& rest = *reinterpret_cast<const MatchRest*>(reinterpret_cast<const std::uint8_t*>(matchTable.rest) + 2 * offset);
      // A shift by (64 - total) mod 64 puts the token's last bit at the top; total is never 0 here.
      distance = rest.base + static_cast<std::uint32_t>((bits << ((0u - total) & 63)) >> rest.keepShift);
      length = rest.length;
      bits >>= total;
      count -= total;
    } else {
      // A long length code with its extra bits, a far distance code, or the end code.
      const std::uint32_t lengthEntry = tables.lengthEntries[(bits >> 1) & 0xFF];
      const std::uint32_t codeBits = lengthEntry & 0xFF;
      const std::uint32_t extraBits = (lengthEntry >> 8) & 0xFF;
      const std::uint32_t headBits = codeBits + extraBits;
      const std::uint64_t afterLength = bits >> headBits;
      const auto extra = static_cast<std::uint32_t>((bits >> codeBits) & ((1u << extraBits) - 1));
      const std::uint32_t value = (lengthEntry >> 16) + extra;
      if (value == kEndCodeValue) {
        loop.bits = afterLength;
        loop.count = count - headBits;
        loop.out = out;
        return false;
      }
      length = value + 2;
      const std::uint32_t lowBits = length == 2 ? 2 : kDictionaryBits;
      const std::uint32_t distanceEntry = tables.distanceEntries[afterLength & 0xFF];
      const std::uint32_t partBits = distanceEntry & 0xFF;
      const std::uint32_t distanceBits = partBits + lowBits;
      const auto low = static_cast<std::uint32_t>((afterLength >> partBits) & ((1u << lowBits) - 1));
      distance = ((distanceEntry >> 8) << lowBits) + low + 1;
      bits = afterLength >> distanceBits;
      count -= headBits + distanceBits;
      topUp();
    }
    // Output stays at least kExplodeHistory, and no distance exceeds it, so the source lies in the
    // window; distances reaching before the first output byte read the zero history.
    CopyMatch(out, distance, length);
    out += length;
  }
  loop.bits = bits;
  loop.count = count;
  loop.out = out;
  return true;
}

// The tokens of binary streams while at least 32 delivered bytes are at hand: enough for the four
// top-ups that two rounds, which run between checks, take at most. The caller has topped the
// buffer up, so the first round starts with 56 bits or more.
//
// Stops at the end code (true), or (false) when the batch is full or fewer than 32 delivered bytes
// remain. Output can reach past the batch by two rounds of at most two literals and a longest
// match, which the window's overshoot takes.
template <std::uint32_t kDictionaryBits>
[[gnu::always_inline]] inline bool DecodeBinaryTokens(const DecoderTables& tables, BitReader& reader, std::uint8_t* window,
                                                       std::uint32_t& output, std::uint32_t batchEnd) {
  const MatchTable& matchTable = tables.matchTables[kDictionaryBits - kMinDictionaryBits];
  BinaryLoop loop{reader.bits, reader.count, reader.position, reader.input, window + output};
  const std::uint32_t inputEnd = reader.available;
  const std::uint8_t* const outLimit = window + batchEnd;
  bool ended = false;
  while (inputEnd - loop.input >= 32 && loop.out < outLimit) {
    if (!DecodeBinaryRound<kDictionaryBits>(tables, matchTable, loop) ||
        !DecodeBinaryRound<kDictionaryBits>(tables, matchTable, loop)) {
      ended = true;
      break;
    }
  }
  reader.bits = loop.bits;
  reader.count = loop.count;
  reader.position = loop.input;
  output = static_cast<std::uint32_t>(loop.out - window);
  return ended;
}

// The binary-mode loop for hosts with 32-bit registers. The loop above keeps a 64-bit buffer, which
// such a host holds in two registers: every shift by a count then takes a pair of double shifts
// and a test whether the count passes 32, the lowest set bit takes a library call, and the loop's
// values no longer fit the registers. This loop keeps no buffer. Its position is a count of bits
// from where it started in the input, and it carries the 32 stream bits from there in one word,
// which a round needs whole: three literals and the stop bit behind them take 28 bits, two
// literals and the 12 bits behind the next flag 31. A match is then read from the stream bytes
// again, as the 32 bits at its first bit, which hold any match (at most 30 bits); the 32 bits after
// them give the word of the next round. Every shift is by less than 32. The loads of a round depend
// on the literals' bits only, not on the table lookup, so they run beside it.
//
// Input and output are bounded as in the loop above: a round advances the position by at most 6
// bytes and reads no further than 12 bytes past the byte it starts in, so two rounds, and the 8
// bytes that rebuild the reader's buffer after them, stay within the 32 bytes that each check
// leaves.
struct NarrowLoop {
  const std::uint8_t* input;  // where the loop started in the delivered bytes
  std::uint32_t position;     // bits used since: the next bit is bit position % 8 of byte position / 8
  std::uint32_t bits;         // the 32 stream bits from there, the next one in bit 0
  std::uint8_t* out;          // next output byte
};

inline std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The 32 stream bits that start `position` bits after `input`: the word at their first byte, and
// the word a byte on for the bits that the shift pushes out (where the two overlap they agree).
// Both shifts are by less than 32, which a 64-bit shift would not tell the compiler.
[[gnu::always_inline]] inline std::uint32_t BitsInByte(const std::uint8_t* at, std::uint32_t shift) {
  return (LoadLittleEndian32(at) >> shift) | (LoadLittleEndian32(at + 1) << (8 - shift));
}
[[gnu::always_inline]] inline std::uint32_t BitsAt(const std::uint8_t* input, std::uint32_t position) {
  return BitsInByte(input + (position >> 3), position & 7);
}

template <std::uint32_t kDictionaryBits>
[[gnu::always_inline]] inline bool DecodeNarrowRound(NarrowLoop& loop) {
  const DecoderTables& tables = decoderTables;
  const MatchTable& matchTable = tables.matchTables[kDictionaryBits - kMinDictionaryBits];
  const std::uint32_t bits = loop.bits;
  const std::uint32_t literalBits =
      static_cast<std::uint32_t>(__builtin_ctz((bits & static_cast<std::uint32_t>(kThreeLiteralFlags)) |
                                               static_cast<std::uint32_t>(kThreeLiteralStop)));
  std::uint8_t* out = loop.out;
  // Rotated, not shifted: only the low byte is kept, and the BMI2 build's rotate leaves its source
  // in place, which saves a register copy per literal.
  out[0] = static_cast<std::uint8_t>((bits >> 1) | (bits << 31));
  out[1] = static_cast<std::uint8_t>((bits >> 10) | (bits << 22));
  out[2] = static_cast<std::uint8_t>((bits >> 19) | (bits << 13));
  if (literalBits == 27) {
    // From the old position and a constant, not through the count of literals: in a run of
    // literals (incompressible data) the next round's bits are then loaded without waiting for it.
    // Measured, that doubles the speed on such data.
    loop.position += 27;
    loop.bits = BitsAt(loop.input, loop.position);
    loop.out = out + 3;
    return true;
  }
  const std::uint32_t position = loop.position + literalBits;
  // Behind at most two literals, the flag and the 12 bits after it are still within `bits`.
  const std::uint32_t offset = (bits >> literalBits) & (((1u << kMatchIndexBits) - 1) << 1);
  const std::uint8_t* at = loop.input + (position >> 3);
  const std::uint32_t token = BitsInByte(at, position & 7);
  const std::uint32_t next = BitsInByte(at + 4, position & 7);
  std::uint32_t length;
  std::uint32_t distance;
  std::uint32_t tokenBits;
  std::uint16_t total;
  std::memcpy(&total, reinterpret_cast<const std::uint8_t*>(matchTable.totals) + offset, sizeof total);
  if (total != 0) {
    const auto& rest = *reinterpret_cast<const MatchRest*>(reinterpret_cast<const std::uint8_t*>(matchTable.rest) + 2 * offset);
    // The token's last bit shifted to the top; keepShift is 64 - the low bits, so modulo 32 it
    // leaves them in a 32-bit word. A token takes 5 to 19 bits here, so no shift count needs a
    // mask, which would cost an instruction and, measured, a register spill.
    distance = rest.base + ((token << (32 - total)) >> (rest.keepShift & 31));
    length = rest.length;
    tokenBits = total;
  } else {
    const std::uint32_t lengthEntry = tables.lengthEntries[(token >> 1) & 0xFF];
    const std::uint32_t codeBits = lengthEntry & 0xFF;
    const std::uint32_t extraBits = (lengthEntry >> 8) & 0xFF;
    const std::uint32_t headBits = codeBits + extraBits;
    const std::uint32_t afterLength = token >> headBits;
    const std::uint32_t value = (lengthEntry >> 16) + ((token >> codeBits) & ((1u << extraBits) - 1));
    if (value == kEndCodeValue) {
      loop.position = position + headBits;
      loop.out = out + (literalBits >> 3);
      return false;
    }
    length = value + 2;
    const std::uint32_t lowBits = length == 2 ? 2 : kDictionaryBits;
    const std::uint32_t distanceEntry = tables.distanceEntries[afterLength & 0xFF];
    const std::uint32_t partBits = distanceEntry & 0xFF;
    distance = ((distanceEntry >> 8) << lowBits) + ((afterLength >> partBits) & ((1u << lowBits) - 1)) + 1;
    tokenBits = headBits + partBits + lowBits;
  }
  // A token takes 1 to 30 bits, so both shifts are by less than 32.
  loop.bits = (token >> tokenBits) | (next << (32 - tokenBits));
  loop.position = position + tokenBits;
  out += literalBits >> 3;
  CopyMatch(out, distance, length);
  loop.out = out + length;
  return true;
}

// DecodeBinaryTokens for hosts with 32-bit registers, with the same contract. The reader's buffer
// is left behind on entry and rebuilt on the way out, both from the input bytes themselves; when
// its bits still come from bytes that are no longer at hand (a read into an empty buffer), the loop
// leaves the tokens to the caller's single steps until they are used up.
template <std::uint32_t kDictionaryBits>
[[gnu::always_inline]] inline bool DecodeNarrowTokens(const DecoderTables&, BitReader& reader, std::uint8_t* window,
                                                       std::uint32_t& output, std::uint32_t batchEnd) {
  const std::uint32_t bufferBytes = (reader.count + 7) >> 3;
  if (bufferBytes > reader.position) return false;
  // From the byte of the next bit. A batch of output takes far less than a megabyte of input (at
  // most 9 bits a byte), so the bits ahead are counted up to that, which keeps the count in 32 bits
  // however long a stream in memory is.
  NarrowLoop loop{reader.input + reader.position - bufferBytes, (0u - reader.count) & 7, 0, window + output};
  const std::uint32_t inputBytes = reader.available - (reader.position - bufferBytes);
  const std::uint32_t inputBits = 8 * (inputBytes < (1u << 20) ? inputBytes : (1u << 20));
  const std::uint8_t* const outLimit = window + batchEnd;
  // Leaves the reader as it is unless a round runs, which also leaves room for its buffer's bytes.
  if (reader.available - reader.position + bufferBytes < 32 || loop.out >= outLimit) return false;
  loop.bits = BitsAt(loop.input, loop.position);
  bool ended = false;
  while (inputBits - loop.position >= 8 * 32 + 7 && loop.out < outLimit) {
    if (!DecodeNarrowRound<kDictionaryBits>(loop) || !DecodeNarrowRound<kDictionaryBits>(loop)) {
      ended = true;
      break;
    }
  }
  // The reader again: its 7 bytes from the position on are in its buffer, less the bits used.
  const std::uint32_t shift = loop.position & 7;
  reader.bits = LoadLittleEndian64(loop.input + (loop.position >> 3)) >> shift;
  reader.count = 56 - shift;
  reader.position = static_cast<std::uint32_t>(loop.input - reader.input) + (loop.position >> 3) + 7;
  output = static_cast<std::uint32_t>(loop.out - window);
  return ended;
}

// Set by tests, so that every build of the binary-mode loop below is checked on one machine.
std::atomic<bool> baselineOnly{false};
std::atomic<ExplodeLoop> loopChoice{ExplodeLoop::kHost};

// The binary-mode loop for each dictionary size, built twice: for the processors that the build
// targets, and with the BMI2 shifts, which take their count from any register and leave their
// source in place. The loop is mostly shifts, and without BMI2 each of them costs a register copy
// or two; measured on the codec bench's corpus, the BMI2 build decodes 2-5% faster. The processor
// is asked once which one it can run. The loop and the functions it calls are always inlined:
// otherwise the BMI2 build would only call the baseline code.
//
// Each is there in both kinds, for 64-bit and for 32-bit registers; the host's word size picks
// the kind, and the other one only runs in tests.
using BinaryTokensLoop = bool (*)(const DecoderTables&, BitReader&, std::uint8_t*, std::uint32_t&, std::uint32_t);
using BinaryTokensLoops = std::array<BinaryTokensLoop, kMaxDictionaryBits - kMinDictionaryBits + 1>;
constexpr BinaryTokensLoops kPlainLoops[2] = {{DecodeBinaryTokens<4>, DecodeBinaryTokens<5>, DecodeBinaryTokens<6>},
                                              {DecodeNarrowTokens<4>, DecodeNarrowTokens<5>, DecodeNarrowTokens<6>}};
constexpr bool kNarrowHost = sizeof(void*) < sizeof(std::uint64_t);

// Whether the loop for 32-bit registers runs: on such hosts, unless a test asks otherwise.
bool Narrow() {
  switch (loopChoice.load(std::memory_order_relaxed)) {
    case ExplodeLoop::kWide: return false;
    case ExplodeLoop::kNarrow: return true;
    case ExplodeLoop::kHost: break;
  }
  return kNarrowHost;
}

#if defined(__x86_64__) || defined(__i386__)
template <std::uint32_t kDictionaryBits>
__attribute__((target("bmi2"))) bool DecodeBinaryTokensBmi2(const DecoderTables& tables, BitReader& reader,
                                                           std::uint8_t* window, std::uint32_t& output,
                                                           std::uint32_t batchEnd) {
  return DecodeBinaryTokens<kDictionaryBits>(tables, reader, window, output, batchEnd);
}
// Every processor with BMI2 has SSE2 as well, which 32-bit builds otherwise do without: a match
// copy then moves 8 and 16 bytes in one instruction, not two and four (2% faster, measured).
template <std::uint32_t kDictionaryBits>
__attribute__((target("bmi2,sse2"))) bool DecodeNarrowTokensBmi2(const DecoderTables& tables, BitReader& reader,
                                                           std::uint8_t* window, std::uint32_t& output,
                                                           std::uint32_t batchEnd) {
  return DecodeNarrowTokens<kDictionaryBits>(tables, reader, window, output, batchEnd);
}
constexpr BinaryTokensLoops kBmi2Loops[2] = {
    {DecodeBinaryTokensBmi2<4>, DecodeBinaryTokensBmi2<5>, DecodeBinaryTokensBmi2<6>},
    {DecodeNarrowTokensBmi2<4>, DecodeNarrowTokensBmi2<5>, DecodeNarrowTokensBmi2<6>}};
const BinaryTokensLoops& BinaryLoops() {
  static const bool hasBmi2 = __builtin_cpu_supports("bmi2");
  return (hasBmi2 && !baselineOnly.load(std::memory_order_relaxed) ? kBmi2Loops : kPlainLoops)[Narrow()];
}
#else
const BinaryTokensLoops& BinaryLoops() { return kPlainLoops[Narrow()]; }
#endif

// Puts a literal or a match into the window at `output` and advances it; false for the end code
// and for input that ran out, which store nothing. Output stays at least kExplodeHistory and no
// distance exceeds it, so a match's source lies in the window; distances reaching before the first
// output byte read the zero history.
inline bool StoreToken(const Token& token, std::uint8_t* window, std::uint32_t& output) {
  if (token.kind == TokenKind::kLiteral) {
    window[output++] = static_cast<std::uint8_t>(token.value);
  } else if (token.kind == TokenKind::kMatch) {
    CopyMatch(window + output, token.distance, token.value);
    output += token.value;
  } else {
    return false;
  }
  return true;
}

// Hands the decoded bytes from the history's end up to `end` to the write callback in chunks of
// 4096 bytes; returns how many bytes it handed over.
std::uint32_t WriteChunks(ExplodeState& state, std::uint32_t end) {
  std::uint32_t from = kExplodeHistory;
  for (; end - from >= kExplodeChunk; from += kExplodeChunk) {
    std::uint32_t size = kExplodeChunk;
    state.write(state.window + from, &size, state.parameter);
  }
  return from - kExplodeHistory;
}

enum class Stop { kEnd, kInputEnded, kBatchFull };

// Decodes tokens into `window` (history first) from `output` on, until the end code, the end of
// the input, or a full batch (output at `batchEnd` or past it, by at most the window's overshoot;
// at most kExplodeHistory + kExplodeBatch); what to do with a full batch is the caller's.
Stop DecodeTokens(ExplodeState& state, BitReader& reader, std::uint8_t* window, std::uint32_t& output,
                  std::uint32_t batchEnd = kExplodeHistory + kExplodeBatch) {
  const DecoderTables& tables = Tables();
  for (;;) {
    if (output >= batchEnd) return Stop::kBatchFull;
    reader.KeepAhead();
    reader.Refill();
    // Tokens that cannot run out of input are decoded without checks, several per refill.
    const bool safe = reader.count >= kSafeTokenBits;
    if (state.literalMode == kLiteralBinary) {
      // One copy of the loop per dictionary size, so that its table and low-bit count are constants.
      const bool ended = BinaryLoops()[state.dictionaryBits - kMinDictionaryBits](tables, reader, window, output, batchEnd);
      if (ended) return Stop::kEnd;
    }
    while (reader.count >= kSafeTokenBits && output < batchEnd) {
      // Unchecked decoding cannot run out: a token that stores nothing is the end code.
      if (!StoreToken(DecodeToken<false>(reader, state, tables), window, output)) return Stop::kEnd;
    }
    if (!safe && output < batchEnd) {
      // Near the end of the delivered input: every drop checks, and may ask for more.
      const Token token = DecodeToken<true>(reader, state, tables);
      if (!StoreToken(token, window, output)) return token.kind == TokenKind::kEnd ? Stop::kEnd : Stop::kInputEnded;
    }
  }
}

// Takes the header from the first `count` delivered bytes at `bytes` into `state`; kExplodeOk when
// decoding can start.
ExplodeResult ReadHeader(ExplodeState& state, const std::uint8_t* bytes, std::uint32_t count) {
  // The shortest stream a coder writes is header plus end code, 4 bytes; anything that short holds
  // no data, and the decoder needs a byte after the bits it uses.
  if (count <= 4) return kExplodeInputTooShort;
  state.inputCount = count;
  state.literalMode = bytes[0];
  state.dictionaryBits = bytes[1];
  state.bitBuffer = bytes[2];
  state.bitCount = 8;
  state.inputPosition = 3;
  if (state.dictionaryBits < kMinDictionaryBits || state.dictionaryBits > kMaxDictionaryBits) {
    return kExplodeBadDictionary;
  }
  state.dictionaryMask = 0xFFFFu >> (16 - state.dictionaryBits);
  if (state.literalMode != kLiteralBinary && state.literalMode != kLiteralAscii) return kExplodeBadLiteralMode;
  state.outputPosition = kExplodeHistory;
  return kExplodeOk;
}

}  // namespace

ExplodeResult ExplodeStream(CodecRead read, CodecWrite write, ExplodeState* state, void* parameter) {
  state->read = read;
  state->write = write;
  state->parameter = parameter;
  std::uint8_t* const readBuffer = state->input + kExplodeInputCarry;
  std::uint32_t size = kExplodeInputSize;
  const std::uint32_t got = read(readBuffer, &size, parameter);
  const ExplodeResult started = ReadHeader(*state, readBuffer, got < kExplodeInputSize ? got : kExplodeInputSize);
  if (started != kExplodeOk) return started;

  BitReader reader{*state, state->bitBuffer, state->bitCount, state->inputPosition, state->inputCount,
                   readBuffer, false};
  std::uint8_t* const window = state->window;
  std::uint32_t output = state->outputPosition;
  Stop stop;
  while ((stop = DecodeTokens(*state, reader, window, output)) == Stop::kBatchFull) {
    WriteChunks(*state, kExplodeHistory + kExplodeBatch);
    // The batch's last 4096 bytes become the history, the overshoot of the last tokens follows.
    std::memmove(window, window + kExplodeBatch, output - kExplodeBatch);
    output -= kExplodeBatch;
  }
  state->outputPosition = output;
  state->bitBuffer = reader.bits;
  state->bitCount = reader.count;
  state->inputPosition = reader.position;
  state->inputCount = reader.available;

  // Whatever was decoded reaches the caller, also when the input ran out: the full chunks, then the
  // rest as the final one.
  const std::uint32_t written = WriteChunks(*state, output);
  std::uint32_t finalSize = output - kExplodeHistory - written;
  write(window + kExplodeHistory + written, &finalSize, parameter);
  return stop == Stop::kEnd ? kExplodeOk : kExplodeInputEnded;
}

void ExplodeUseBaselineCode(bool baseline) { baselineOnly.store(baseline, std::memory_order_relaxed); }

void ExplodeUseLoop(ExplodeLoop loop) { loopChoice.store(loop, std::memory_order_relaxed); }

std::int32_t ExplodeBuffer(std::uint8_t* destination, std::uint32_t capacity, const std::uint8_t* source,
                           std::uint32_t sourceLength, ExplodeResult* result) {
  MemoryTransfer transfer{source, sourceLength, destination, 0, capacity, 0};
  if (result != nullptr) *result = kExplodeOk;
  // Only the history needs zeros; clearing the whole record would cost more than decoding a short
  // stream.
  std::unique_ptr<ExplodeState> state(new (std::nothrow) ExplodeState);
  if (!state) return -1;
  std::memset(state->window, 0, kExplodeHistory);
  // The whole stream is read where it lies; the read callback then only tells that it has ended.
  state->read = ReadFromMemory;
  state->write = WriteToMemory;
  state->parameter = &transfer;
  transfer.sourceRemaining = 0;
  const ExplodeResult started = ReadHeader(*state, source, sourceLength);
  if (started != kExplodeOk) {
    if (result != nullptr) *result = started;
    return -1;
  }

  // The output is decoded in the record's window until its first 4096 bytes are there (distances
  // reaching before them read the window's zero history), then, while the destination has room for
  // a whole window past the output, straight into the destination, its last 4096 bytes serving as
  // the history: no byte is moved or copied after it is decoded. The window's overshoot and copy
  // slack then land in the destination past the output (within its capacity, and overwritten by
  // what follows). Near the capacity the record's window takes over again, with the history and the
  // bytes past the batch copied into it. A destination without that room is filled a batch at a
  // time from the window.
  BitReader reader{*state, state->bitBuffer, state->bitCount, state->inputPosition, state->inputCount, source, false};
  std::uint8_t* window = state->window;
  std::uint32_t output = kExplodeHistory;
  std::uint32_t done = 0;  // output bytes in place in the destination, before window + kExplodeHistory
  bool direct = false;
  bool overflow = false;
  auto roomForWindow = [&] {
    return done >= kExplodeHistory && capacity - done >= kExplodeWindowSize + kExplodeCopySlack - kExplodeHistory;
  };
  // Only the first 4096 bytes, when the destination can take the decoding from there on: most
  // streams are short, and a whole batch decoded in the window would be copied once more.
  bool firstBytes = capacity >= kExplodeWindowSize + kExplodeCopySlack;
  Stop stop;
  while ((stop = DecodeTokens(*state, reader, window, output,
                              firstBytes ? 2 * kExplodeHistory : kExplodeHistory + kExplodeBatch)) == Stop::kBatchFull) {
    if (firstBytes) {
      // The bytes decoded so far (4096 and the overshoot past them) go to the destination's start,
      // whose first 4096 bytes are the history from now on.
      firstBytes = false;
      std::memcpy(destination, window + kExplodeHistory, output - kExplodeHistory);
      window = destination;
      output -= kExplodeHistory;
      done = kExplodeHistory;
      direct = true;
      continue;
    }
    if (direct) {
      window += kExplodeBatch;
      done += kExplodeBatch;
      output -= kExplodeBatch;
      if (!roomForWindow()) {
        std::memcpy(state->window, window, output);
        window = state->window;
        direct = false;
      }
      continue;
    }
    if (!overflow && capacity - done >= kExplodeBatch) {
      std::memcpy(destination + done, window + kExplodeHistory, kExplodeBatch);
      done += kExplodeBatch;
    } else {
      // The output does not fit: decoding goes on only to tell whether the stream is sound.
      overflow = true;
    }
    std::memmove(window, window + kExplodeBatch, output - kExplodeBatch);
    output -= kExplodeBatch;
    if (!overflow && roomForWindow()) {
      std::memcpy(destination + done, window + kExplodeHistory, output - kExplodeHistory);
      window = destination + done - kExplodeHistory;
      direct = true;
    }
  }
  const std::uint32_t rest = output - kExplodeHistory;
  if (!direct && !overflow) {
    if (capacity - done >= rest) {
      std::memcpy(destination + done, window + kExplodeHistory, rest);
    } else {
      overflow = true;
    }
  }
  done += rest;
  state.reset();
  const ExplodeResult decoded = stop == Stop::kEnd ? kExplodeOk : kExplodeInputEnded;
  if (result != nullptr) *result = decoded;
  if (decoded != kExplodeOk) return -1;
  // A length beyond the signed result cannot be told from -1's neighbours; refuse it too.
  if (overflow || done > 0x7FFFFFFFu) return -1;
  return static_cast<std::int32_t>(done);
}
