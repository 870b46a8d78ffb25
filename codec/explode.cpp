// The implode-stream decoder and its memory-to-memory wrapper.
#include "codec/explode.h"

#include <cstring>
#include <memory>
#include <new>

#include "codec/memory_transfer.h"

namespace {

// The longest token (match flag, 7-bit length code, 8 extra bits, 8-bit distance code, 6 low bits)
// plus the 8-bit look-ahead that must remain after it. With this many bits in hand a token cannot
// run out of input, so it is decoded without checks.
constexpr std::uint32_t kSafeTokenBits = 1 + 7 + 8 + 8 + 6 + 8;

// Enters a prefix code into a lookup table indexed by the next stream bits: every index whose low
// `bits` bits are the code.
void FillTable(std::uint8_t* table, std::uint32_t tableSize, std::uint32_t bits, std::uint32_t code,
               std::uint8_t symbol) {
  for (std::uint32_t i = code; i < tableSize; i += 1u << bits) table[i] = symbol;
}

void BuildLengthAndDistanceTables(ExplodeState& state) {
  for (std::uint32_t code = 0; code < kLengthCodeCount; ++code) {
    state.lengthBitLengths[code] = LengthCodes[code].bits;
    state.extraBitCounts[code] = LengthCodes[code].extraBits;
    state.lengthBases[code] = LengthCodes[code].base;
  }
  for (std::uint32_t part = 0; part < kDistanceCodeCount; ++part) {
    state.distanceBitLengths[part] = DistanceCodes[part].bits;
  }
  // Every length and distance code has at most 8 bits, so one lookup of the look-ahead finds it.
  for (std::uint32_t code = kLengthCodeCount; code-- > 0;) {
    FillTable(state.lengthTable, 256, LengthCodes[code].bits, LengthCodes[code].value,
              static_cast<std::uint8_t>(code));
  }
  for (std::uint32_t part = kDistanceCodeCount; part-- > 0;) {
    FillTable(state.distanceTable, 256, DistanceCodes[part].bits, DistanceCodes[part].value,
              static_cast<std::uint8_t>(part));
  }
  for (std::uint32_t next = 0; next < 256; ++next) {
    const LengthCode& length = LengthCodes[state.lengthTable[next]];
    state.lengthEntries[next] = (std::uint32_t{length.base} << 16) | (std::uint32_t{length.extraBits} << 8) |
                                (1u + length.bits);
    const std::uint32_t part = state.distanceTable[next];
    state.distanceEntries[next] = static_cast<std::uint16_t>((part << 8) | DistanceCodes[part].bits);
  }
}

// ASCII codes run to 13 bits, more than one 8-bit lookup can see. Codes of at most 8 bits are found
// at once; a longer one is found after dropping the bits that the first lookup already identified
// as its start: 4 bits (low 6 code bits not all zero), 6 bits (low 8 not all zero) or 8 zero bits.
// The code table is arranged so that what remains always fits the next lookup.
void BuildAsciiTables(ExplodeState& state) {
  for (std::uint32_t symbol = kAsciiCodeCount; symbol-- > 0;) {
    const std::uint32_t bits = AsciiLiteralCodes[symbol].bits;
    const std::uint32_t code = AsciiLiteralCodes[symbol].value;
    const auto byte = static_cast<std::uint8_t>(symbol);
    if (bits <= 8) {
      FillTable(state.asciiFirst, 256, bits, code, byte);
      state.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits);
    } else if ((code & 0xFF) != 0) {
      state.asciiFirst[code & 0xFF] = 255;
      if ((code & 0x3F) != 0) {
        state.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 4);
        FillTable(state.asciiSecond, 256, bits - 4, code >> 4, byte);
      } else {
        state.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 6);
        FillTable(state.asciiThird, 128, bits - 6, code >> 6, byte);
      }
    } else {
      state.asciiRemaining[symbol] = static_cast<std::uint8_t>(bits - 8);
      FillTable(state.asciiFourth, 256, bits - 8, code >> 8, byte);
    }
  }
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
// buffer a byte or a word at a time; bits above `count` are either zero or already the following
// input bytes in their final places, so loading those bytes again changes nothing.
struct BitReader {
  ExplodeState& state;
  std::uint64_t bits;
  std::uint32_t count;
  std::uint32_t position;
  std::uint32_t available;

  // Tops the buffer up from the bytes already delivered; never calls the read callback.
  void Refill() {
    if (available - position >= 8) {
      bits |= LoadLittleEndian64(state.inputBuffer + position) << count;
      position += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56 && position < available) {
      bits |= std::uint64_t{state.inputBuffer[position++]} << count;
      count += 8;
    }
  }

  // Makes `wanted` bits available, asking the read callback for more input only when every
  // delivered byte is in use; false when the input has ended.
  bool Ensure(std::uint32_t wanted) {
    while (count < wanted) {
      if (position == available) {
        std::uint32_t size = kExplodeInputSize;
        std::uint32_t got = state.read(state.inputBuffer, &size, state.parameter);
        if (got == 0) return false;
        available = got < kExplodeInputSize ? got : kExplodeInputSize;
        position = 0;
      }
      bits |= std::uint64_t{state.inputBuffer[position++]} << count;
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
inline Token DecodeToken(BitReader& reader, const ExplodeState& state) {
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
        byte = state.asciiFourth[reader.bits & 0xFF];
      } else {
        byte = state.asciiFirst[lookAhead];
        if (byte == 255) {
          if ((lookAhead & 0x3F) != 0) {
            if (!reader.Drop<kChecked>(4)) return ended;
            byte = state.asciiSecond[reader.bits & 0xFF];
          } else {
            if (!reader.Drop<kChecked>(6)) return ended;
            byte = state.asciiThird[reader.bits & 0x7F];
          }
        }
      }
      if (!reader.Drop<kChecked>(state.asciiRemaining[byte])) return ended;
    }
    return {TokenKind::kLiteral, byte, 0};
  }

  if (!reader.Drop<kChecked>(1)) return ended;
  const std::uint32_t code = state.lengthTable[reader.bits & 0xFF];
  if (!reader.Drop<kChecked>(state.lengthBitLengths[code])) return ended;
  const std::uint32_t extraBits = state.extraBitCounts[code];
  const auto extra = static_cast<std::uint32_t>(reader.bits & ((1u << extraBits) - 1));
  // The end code's extra bits may be the last bits of the input: it needs no look-ahead after it.
  if (!reader.Drop<kChecked>(extraBits) && state.lengthBases[code] + extra != kEndCodeValue) return ended;
  const std::uint32_t value = state.lengthBases[code] + extra;
  if (value == kEndCodeValue) return {TokenKind::kEnd, 0, 0};
  const std::uint32_t length = value + 2;

  const std::uint32_t highPart = state.distanceTable[reader.bits & 0xFF];
  if (!reader.Drop<kChecked>(state.distanceBitLengths[highPart])) return ended;
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

// Copies a match oldest byte first, so a copy may repeat bytes it has just produced. Sources at
// least 8 bytes back move 8 or 16 bytes at a time; a nearer source repeats a pattern of `distance`
// bytes, which after its first 8 bytes is copied 8 at a time from the nearest multiple of
// `distance` that is at least 8 back. Copies may write up to 15 bytes past the match (the
// window's slack takes them).
inline void CopyMatch(std::uint8_t* destination, std::uint32_t distance, std::uint32_t length) {
  const std::uint8_t* source = destination - distance;
  if (distance >= 16) {
    for (std::uint32_t i = 0; i < length; i += 16) std::memcpy(destination + i, source + i, 16);
  } else if (distance >= 8) {
    for (std::uint32_t i = 0; i < length; i += 8) std::memcpy(destination + i, source + i, 8);
  } else if (distance == 1) {
    std::memset(destination, *source, length);
  } else {
    for (std::uint32_t i = 0; i < 8; ++i) destination[i] = source[i];
    // step < 8 + distance, so the first chunk reads no farther back than the source itself.
    const std::uint32_t step = distance * ((8 + distance - 1) / distance);
    for (std::uint32_t i = 8; i < length; i += 8) std::memcpy(destination + i, destination + i - step, 8);
  }
}

// The tokens of binary streams while whole words of input are at hand: the buffer is topped up
// from the input a word at a time, a literal is the flag and 8 bits, and a match's fields are found
// by shifting the one word, each code with one lookup. Literals taken together may carry the output
// three bytes past the chunk, as a match may carry it further; the window has room for that. Stops at the end
// code (true), or (false) when the chunk is full or fewer than 8 delivered bytes remain, leaving at
// least kSafeTokenBits or every delivered bit in the buffer.
inline bool DecodeBinaryTokens(const ExplodeState& state, BitReader& reader, std::uint8_t* window,
                               std::uint32_t& output) {
  std::uint64_t bits = reader.bits;
  std::uint32_t count = reader.count;
  std::uint32_t input = reader.position;
  const std::uint8_t* const inputBuffer = state.inputBuffer;
  const std::uint32_t inputEnd = reader.available;
  const std::uint32_t dictionaryBits = state.dictionaryBits;
  std::uint32_t position = output;
  bool ended = false;
  for (;;) {
    if (count < kSafeTokenBits) {
      if (inputEnd - input < 8) break;
      bits |= LoadLittleEndian64(inputBuffer + input) << count;
      input += (63 - count) >> 3;
      count |= 56;
    }
    if (position >= kExplodeHistory + kExplodeChunk) break;
    // Literals come in runs (incompressible stretches are nothing else): four or two at once when
    // they can, four only while the look-ahead stays in hand behind them.
    if ((bits & 0x8040201) == 0 && count >= 4 * 9 + 8) {
      window[position] = static_cast<std::uint8_t>(bits >> 1);
      window[position + 1] = static_cast<std::uint8_t>(bits >> 10);
      window[position + 2] = static_cast<std::uint8_t>(bits >> 19);
      window[position + 3] = static_cast<std::uint8_t>(bits >> 28);
      position += 4;
      bits >>= 36;
      count -= 36;
      continue;
    }
    if ((bits & 0x201) == 0) {
      window[position] = static_cast<std::uint8_t>(bits >> 1);
      window[position + 1] = static_cast<std::uint8_t>(bits >> 10);
      position += 2;
      bits >>= 18;
      count -= 18;
      continue;
    }
    if ((bits & 1) == 0) {
      window[position++] = static_cast<std::uint8_t>(bits >> 1);
      bits >>= 9;
      count -= 9;
      continue;
    }
    const std::uint32_t lengthEntry = state.lengthEntries[(bits >> 1) & 0xFF];
    std::uint32_t used = lengthEntry & 0xFF;
    const std::uint32_t extraBits = (lengthEntry >> 8) & 0xFF;
    const auto extra = static_cast<std::uint32_t>((bits >> used) & ((1u << extraBits) - 1));
    const std::uint32_t value = (lengthEntry >> 16) + extra;
    used += extraBits;
    if (value == kEndCodeValue) {
      bits >>= used;
      count -= used;
      ended = true;
      break;
    }
    const std::uint32_t length = value + 2;
    const std::uint32_t distanceEntry = state.distanceEntries[(bits >> used) & 0xFF];
    used += distanceEntry & 0xFF;
    const std::uint32_t lowBits = length == 2 ? 2 : dictionaryBits;
    const auto low = static_cast<std::uint32_t>((bits >> used) & ((1u << lowBits) - 1));
    const std::uint32_t distance = ((distanceEntry >> 8) << lowBits) + low + 1;
    used += lowBits;
    bits >>= used;
    count -= used;
    // Output stays at least kExplodeHistory, and no distance exceeds it, so the source lies in the
    // window; distances reaching before the first output byte read the zero history.
    CopyMatch(window + position, distance, length);
    position += length;
  }
  reader.bits = bits;
  reader.count = count;
  reader.position = input;
  output = position;
  return ended;
}

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

// Decodes tokens until the end code (true) or the end of the input (false), handing every full
// 4096-byte chunk to the write callback. The final partial chunk is left to the caller.
bool DecodeTokens(ExplodeState& state, BitReader& reader) {
  std::uint8_t* const window = state.window;
  std::uint32_t output = state.outputPosition;
  bool complete = false;
  for (;;) {
    reader.Refill();
    // Tokens that cannot run out of input are decoded without checks, several per refill.
    const bool safe = reader.count >= kSafeTokenBits;
    if (state.literalMode == kLiteralBinary) {
      if (DecodeBinaryTokens(state, reader, window, output)) {
        complete = true;
        break;
      }
    }
    while (reader.count >= kSafeTokenBits && output < kExplodeHistory + kExplodeChunk) {
      if (!StoreToken(DecodeToken<false>(reader, state), window, output)) {
        complete = true;  // unchecked decoding cannot run out: this is the end code
        break;
      }
    }
    if (complete) break;
    if (!safe) {
      // Near the end of the delivered input: every drop checks, and may ask for more.
      const Token token = DecodeToken<true>(reader, state);
      if (!StoreToken(token, window, output)) {
        complete = token.kind == TokenKind::kEnd;
        break;
      }
    }
    if (output >= kExplodeHistory + kExplodeChunk) {
      std::uint32_t size = kExplodeChunk;
      state.write(window + kExplodeHistory, &size, state.parameter);
      // The chunk just written becomes the history, the overshoot of the last match its successor.
      std::memmove(window, window + kExplodeChunk, output - kExplodeChunk);
      output -= kExplodeChunk;
    }
  }
  state.outputPosition = output;
  return complete;
}

}  // namespace

ExplodeResult ExplodeStream(CodecRead read, CodecWrite write, ExplodeState* state, void* parameter) {
  state->read = read;
  state->write = write;
  state->parameter = parameter;
  std::uint32_t size = kExplodeInputSize;
  std::uint32_t got = read(state->inputBuffer, &size, parameter);
  // The shortest stream a coder writes is header plus end code, 4 bytes; anything that short holds
  // no data, and the decoder needs a byte after the bits it uses.
  if (got <= 4) return kExplodeInputTooShort;
  state->inputCount = got < kExplodeInputSize ? got : kExplodeInputSize;

  state->literalMode = state->inputBuffer[0];
  state->dictionaryBits = state->inputBuffer[1];
  state->bitBuffer = state->inputBuffer[2];
  state->bitCount = 8;
  state->inputPosition = 3;
  if (state->dictionaryBits < kMinDictionaryBits || state->dictionaryBits > kMaxDictionaryBits) {
    return kExplodeBadDictionary;
  }
  state->dictionaryMask = 0xFFFFu >> (16 - state->dictionaryBits);
  if (state->literalMode == kLiteralAscii) {
    BuildAsciiTables(*state);
  } else if (state->literalMode != kLiteralBinary) {
    return kExplodeBadLiteralMode;
  }
  BuildLengthAndDistanceTables(*state);

  state->outputPosition = kExplodeHistory;
  BitReader reader{*state, state->bitBuffer, state->bitCount, state->inputPosition, state->inputCount};
  const bool complete = DecodeTokens(*state, reader);
  state->bitBuffer = reader.bits;
  state->bitCount = reader.count;
  state->inputPosition = reader.position;
  state->inputCount = reader.available;

  // Whatever was decoded reaches the caller, also when the input ran out.
  std::uint32_t finalSize = state->outputPosition - kExplodeHistory;
  write(state->window + kExplodeHistory, &finalSize, parameter);
  return complete ? kExplodeOk : kExplodeInputEnded;
}

std::int32_t ExplodeBuffer(std::uint8_t* destination, std::uint32_t capacity, const std::uint8_t* source,
                           std::uint32_t sourceLength, ExplodeResult* result) {
  MemoryTransfer transfer{source, sourceLength, destination, 0, capacity, 0};
  if (result != nullptr) *result = kExplodeOk;
  // Value-initialised, so the history starts as zeros.
  std::unique_ptr<ExplodeState> state(new (std::nothrow) ExplodeState());
  if (!state) return -1;
  const ExplodeResult decoded = ExplodeStream(ReadFromMemory, WriteToMemory, state.get(), &transfer);
  state.reset();
  if (result != nullptr) *result = decoded;
  if (decoded != kExplodeOk) return -1;
  // A length beyond the signed result cannot be told from -1's neighbours; refuse it too.
  if (transfer.overflow != 0 || transfer.destinationCount > 0x7FFFFFFFu) return -1;
  return static_cast<std::int32_t>(transfer.destinationCount);
}
