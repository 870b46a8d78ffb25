// The implode-stream encoder and its memory-to-memory wrapper. Every choice below (pass geometry,
// candidate order, tie-breaks, thresholds) is part of the output: packages built from the same files
// must be byte-identical, so speed-ups may change how a result is found, never the result.
#include "codec/implode.h"

#include <cstring>
#include <memory>
#include <new>

#include "app/process_state.h"
#include "codec/memory_transfer.h"

namespace {

static_assert(sizeof(ImplodeState::window) == 3 * kImplodeWindowSize,
              "the sorted positions must follow the window in the same array");

// Dictionaries above 4096 bytes do not exist, and 2 * 4096 + 516 window positions must fit the
// 16-bit sorted entries and bucket counters.
static_assert(kImplodeWindowSize <= 0xFFFF, "window positions must fit 16 bits");

// Matches longer than this switch to the border-table search.
constexpr std::uint32_t kLongMatchThreshold = 10;
// A 2-byte repetition is worth a match only this close (distance - 1 below 256).
constexpr std::uint32_t kShortMatchReach = 256;
// The look-ahead keeps a match that is one byte shorter than the next one only this close.
constexpr std::uint32_t kLookAheadNearDistance = 128;
// Matches this long are taken without a look-ahead.
constexpr std::uint32_t kNoLookAheadLength = 8;

inline std::uint32_t SortedPosition(const ImplodeState& state, std::uint32_t index) {
  const std::uint8_t* entry = state.window + kSortedPositionsOffset + 2 * index;
  return entry[0] | (std::uint32_t{entry[1]} << 8);
}

inline void SetSortedPosition(ImplodeState& state, std::uint32_t index, std::uint32_t position) {
  std::uint8_t* entry = state.window + kSortedPositionsOffset + 2 * index;
  entry[0] = static_cast<std::uint8_t>(position);
  entry[1] = static_cast<std::uint8_t>(position >> 8);
}

// Positions with the same hash and the same first byte also share the second byte (4a + 5b fixes b
// once a is known), which the searches use to skip comparing it.
inline std::uint32_t PairHash(const std::uint8_t* window, std::uint32_t position) {
  return 4u * window[position] + 5u * window[position + 1];
}

// Every token head is one value written in one go: the flag bit, then the literal's bits or the
// length code with its extra bits.
void FillSymbols(ImplodeState& state) {
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    if (state.literalMode == kLiteralBinary) {
      state.symbolBits[byte] = 9;
      state.symbolCodes[byte] = static_cast<std::uint16_t>(byte << 1);
    } else {
      state.symbolBits[byte] = static_cast<std::uint8_t>(AsciiLiteralCodes[byte].bits + 1);
      state.symbolCodes[byte] = static_cast<std::uint16_t>(AsciiLiteralCodes[byte].value << 1);
    }
  }
  std::uint32_t symbol = 256;
  for (const LengthCode& code : LengthCodes) {
    for (std::uint32_t extra = 0; extra < (1u << code.extraBits); ++extra, ++symbol) {
      state.symbolBits[symbol] = static_cast<std::uint8_t>(code.bits + code.extraBits + 1);
      state.symbolCodes[symbol] =
          static_cast<std::uint16_t>((extra << (code.bits + 1)) | (std::uint32_t{code.value} << 1) | 1);
    }
  }
  for (std::uint32_t part = 0; part < kDistanceCodeCount; ++part) {
    state.distanceCodeBits[part] = DistanceCodes[part].bits;
    state.distanceCodeValues[part] = static_cast<std::uint8_t>(DistanceCodes[part].value);
  }
}

void FlushPiece(ImplodeState& state) {
  std::uint32_t size = kImplodeOutputPiece;
  state.writeOutput(state.outBuffer, &size, state.userValue);
  // The bytes past the piece (a byte being filled, and at most one more) start the next one.
  const std::uint8_t carried[2] = {state.outBuffer[kImplodeOutputPiece], state.outBuffer[kImplodeOutputPiece + 1]};
  std::memset(state.outBuffer, 0, sizeof state.outBuffer);
  state.outBuffer[0] = carried[0];
  state.outBuffer[1] = carried[1];
  state.outBytes -= kImplodeOutputPiece;
}

// Appends `count` bits (at most 16; `value` below 2^count), first bit in bit 0. Bytes past the one
// being filled are always zero, so the new bits are ORed in and spill into up to two more bytes.
inline void PutBits(ImplodeState& state, std::uint32_t count, std::uint32_t value) {
  std::uint8_t* byte = state.outBuffer + state.outBytes;
  const std::uint32_t bits = byte[0] | (value << state.outBits);
  byte[0] = static_cast<std::uint8_t>(bits);
  byte[1] = static_cast<std::uint8_t>(bits >> 8);
  byte[2] = static_cast<std::uint8_t>(bits >> 16);
  const std::uint32_t total = state.outBits + count;
  state.outBytes += total >> 3;
  state.outBits = total & 7;
  if (state.outBytes >= kImplodeOutputPiece) FlushPiece(state);
}

inline void PutLiteral(ImplodeState& state, std::uint8_t byte) {
  PutBits(state, state.symbolBits[byte], state.symbolCodes[byte]);
}

// `distanceMinusOne` is below 256 for length 2 and below the dictionary size otherwise, so the high
// part always names one of the 64 distance codes.
inline void PutMatch(ImplodeState& state, std::uint32_t length, std::uint32_t distanceMinusOne) {
  const std::uint32_t symbol = 256 + length - 2;
  PutBits(state, state.symbolBits[symbol], state.symbolCodes[symbol]);
  const std::uint32_t lowBits = length == 2 ? 2 : state.distanceBits;
  const std::uint32_t part = distanceMinusOne >> lowBits;
  const std::uint32_t low = distanceMinusOne & ((1u << lowBits) - 1);
  PutBits(state, state.distanceCodeBits[part] + lowBits,
          state.distanceCodeValues[part] | (low << state.distanceCodeBits[part]));
}

// Groups the positions first..last by pair hash with a counting sort; each group lists its
// positions in ascending order and bucketStart points at each group's first entry. Returns the
// number of entries. Rebuilt once per pass, which is far cheaper than keeping chains up to date
// position by position.
std::uint32_t SortPositions(ImplodeState& state, std::uint32_t first, std::uint32_t last) {
  const std::uint8_t* window = state.window;
  std::uint16_t* buckets = state.bucketStart;
  std::memset(buckets, 0, sizeof state.bucketStart);
  for (std::uint32_t q = first; q <= last; ++q) ++buckets[PairHash(window, q)];
  std::uint32_t total = 0;
  for (std::uint32_t bucket = 0; bucket < kPairHashBuckets; ++bucket) {
    total += buckets[bucket];
    buckets[bucket] = static_cast<std::uint16_t>(total);
  }
  // Downward, so each group fills from its end and comes out ascending. The hash of `last` may read
  // the first sorted entry (past the window); it is taken before anything is stored there, as in
  // the counting loop.
  for (std::uint32_t q = last + 1; q-- > first;) {
    SetSortedPosition(state, --buckets[PairHash(window, q)], q);
  }
  return last - first + 1;
}

// Border (failure) table of the bytes at p, as far as a search has needed it. Kept across one long
// match search so that each extension starts where the previous one stopped.
struct BorderTable {
  std::int16_t* lengths;  // lengths[k]: longest proper border of the k bytes at p; -1 for k = 0
  std::uint32_t k;
  std::int32_t m;

  void Extend(const std::uint8_t* pattern, std::uint32_t upTo) {
    while (k < upTo) {
      if (pattern[k] == pattern[m]) {
        ++k;
        ++m;
        lengths[k] = static_cast<std::int16_t>(m);
      } else {
        m = lengths[m];
        if (m == -1) {
          ++k;
          m = 0;
          lengths[k] = 0;
        }
      }
    }
  }
};

// The rest of a candidate scan once a match longer than 10 bytes is known at candidate index
// `index` (position c0, length best). A candidate can only beat or tie `best` if it matches at least
// that far, and the border table tells which later candidates inside the known match can: the
// others are skipped, and a candidate that starts at a border reuses the bytes already compared.
// Returns exactly what the plain scan would, ties and the 516 cap included.
std::uint32_t ContinueLongMatch(ImplodeState& state, std::uint32_t p, std::uint32_t index, std::uint32_t c0,
                                std::uint32_t best, std::uint32_t sortedCount) {
  const std::uint8_t* window = state.window;
  const std::uint32_t reach = p - 1;  // candidates lie below p - 1
  if (index + 1 >= sortedCount || SortedPosition(state, index + 1) >= reach) return best;

  BorderTable border{state.borderTable, 1, 0};
  border.lengths[0] = -1;
  border.lengths[1] = 0;
  border.Extend(window + p, best);

  std::uint32_t end = c0 + best;  // window index where the last comparison stopped
  std::uint32_t j = best;         // bytes that matched there
  for (;;) {
    const std::int32_t borderLength = border.lengths[j];
    const std::uint32_t known = borderLength < 0 ? 0 : static_cast<std::uint32_t>(borderLength);
    std::uint32_t c;
    // Candidates that start before end - known cannot reach end (the border is the longest), so
    // they match fewer than j <= best bytes.
    do {
      if (++index >= sortedCount) return best;
      c = SortedPosition(state, index);
      if (c >= reach) return best;
    } while (c + known < end);

    std::uint32_t t;
    if (window[c + best - 2] == window[p + best - 2]) {
      if (c + known == end) {
        j = known;
        t = end;
      } else {
        j = 0;
        t = c;
      }
    } else {
      // Cannot reach best - 1 bytes: look for the next candidate that can, from scratch.
      for (;;) {
        if (++index >= sortedCount) return best;
        c = SortedPosition(state, index);
        if (c >= reach) return best;
        if (window[c + best - 2] == window[p + best - 2] && window[c] == window[p]) break;
      }
      j = 2;
      t = c + 2;
    }
    while (window[p + j] == window[t]) {
      if (++j == kImplodeMaxMatch) break;
      ++t;
    }
    end = t;
    if (j < best) continue;
    state.matchDistance = p - c - 1;
    if (j == best) continue;  // the nearer candidate takes the tie
    best = j;
    if (best == kImplodeMaxMatch) return best;
    border.Extend(window + p, best);
  }
}

// Longest earlier repetition of the bytes at p within the dictionary: 0, or 2 to 516, with its
// distance - 1 in matchDistance. Candidates are scanned farthest first; among equally long ones the
// nearest wins, except that the first to reach 516 ends the search. Distance 1 is never used.
std::uint32_t FindLongestMatch(ImplodeState& state, std::uint32_t p, std::uint32_t sortedCount) {
  const std::uint8_t* window = state.window;
  const std::uint32_t hash = PairHash(window, p);
  std::uint32_t index = state.bucketStart[hash];
  // The lowest position in reach only grows during a pass, so entries left behind stay out of reach.
  const std::uint32_t lowest = p - state.dictionarySize + 1;
  const std::uint32_t first = index;
  while (index < sortedCount && SortedPosition(state, index) < lowest) ++index;
  if (index != first) state.bucketStart[hash] = static_cast<std::uint16_t>(index);

  // p itself is in its own bucket and ends the scan.
  const std::uint32_t reach = p - 1;
  std::uint32_t best = 1;
  for (; index < sortedCount; ++index) {
    const std::uint32_t c = SortedPosition(state, index);
    if (c >= reach) break;
    if (window[c + best - 1] != window[p + best - 1] || window[c] != window[p]) continue;
    std::uint32_t n = 2;
    while (n < kImplodeMaxMatch && window[c + n] == window[p + n]) ++n;
    if (n < best) continue;
    best = n;
    state.matchDistance = p - c - 1;
    if (best == kImplodeMaxMatch) return best;
    if (best > kLongMatchThreshold) return ContinueLongMatch(state, p, index, c, best, sortedCount);
  }
  return best >= 2 ? best : 0;
}

// Codes the positions from *position up to `limit` (exclusive) with a one-position look-ahead.
// A match may carry the position past limit; the next pass starts there.
void CodePositions(ImplodeState& state, std::uint32_t* position, std::uint32_t limit, bool lastPass,
                   std::uint32_t sortedCount) {
  const std::uint8_t* window = state.window;
  std::uint32_t p = *position;
  while (p < limit) {
    std::uint32_t n = FindLongestMatch(state, p, sortedCount);
    for (;;) {
      if (n == 0 || (n == 2 && state.matchDistance >= kShortMatchReach)) {
        PutLiteral(state, window[p]);
        p += 1;
        break;
      }
      if (lastPass && p + n > limit) {
        // The comparison ran past the data; the match ends where the data does.
        n = limit - p;
        if (n < 2 || (n == 2 && state.matchDistance >= kShortMatchReach)) {
          PutLiteral(state, window[p]);
          p += 1;
        } else {
          PutMatch(state, n, state.matchDistance);
          p += n;
        }
        break;
      }
      if (n >= kNoLookAheadLength || p + 1 >= limit) {
        PutMatch(state, n, state.matchDistance);
        p += n;
        break;
      }
      const std::uint32_t distance = state.matchDistance;
      const std::uint32_t next = FindLongestMatch(state, p + 1, sortedCount);
      if (n >= next || (next == n + 1 && distance <= kLookAheadNearDistance)) {
        state.matchDistance = distance;
        PutMatch(state, n, distance);
        p += n;
        break;
      }
      // The next position does better: a literal here, then decide there with what was found.
      PutLiteral(state, window[p]);
      p += 1;
      n = next;
    }
  }
  *position = p;
}

void RunPasses(ImplodeState& state) {
  const std::uint32_t dictionary = state.dictionarySize;
  // New input goes after the dictionary and the reserve that the previous pass left uncoded.
  const std::uint32_t reserveEnd = dictionary + kImplodeMaxMatch;
  std::uint32_t p = reserveEnd;
  for (std::uint32_t pass = 0;; ++pass) {
    std::uint32_t got = 0;
    bool inputEnded = false;
    while (got < kImplodeBlock) {
      std::uint32_t size = kImplodeBlock - got;
      const std::uint32_t delivered = state.readInput(state.window + reserveEnd + got, &size, state.userValue);
      if (delivered == 0) {
        inputEnded = true;
        break;
      }
      got += delivered < kImplodeBlock - got ? delivered : kImplodeBlock - got;
    }
    if (pass == 0 && got == 0) return;

    // Every pass but the last stops 516 positions before its data ends, so a match never runs past
    // the data; those positions are coded in the next pass.
    const std::uint32_t limit = inputEnded ? reserveEnd + got : dictionary + got;
    std::uint32_t first;
    if (pass == 0) {
      first = p;
    } else if (pass == 1 && dictionary == kImplodeBlock) {
      first = p - kImplodeBlock + kImplodeMaxMatch;
    } else {
      first = p - dictionary;
    }
    const std::uint32_t sortedCount = SortPositions(state, first, limit);
    CodePositions(state, &p, limit, inputEnded, sortedCount);
    if (inputEnded) return;

    std::memmove(state.window, state.window + kImplodeBlock, reserveEnd);
    p -= kImplodeBlock;
  }
}

}  // namespace

ImplodeResult ImplodeStream(CodecRead readInput, CodecWrite writeOutput, ImplodeState* state, void* userValue,
                            std::uint32_t literalMode, std::uint32_t dictionarySize) {
  state->readInput = readInput;
  state->writeOutput = writeOutput;
  state->userValue = userValue;
  state->literalMode = literalMode;
  state->dictionarySize = dictionarySize;
  switch (dictionarySize) {
    case 1024: state->distanceBits = 4; break;
    case 2048: state->distanceBits = 5; break;
    case 4096: state->distanceBits = 6; break;
    default: return kImplodeBadDictionary;
  }
  state->distanceMask = (1u << state->distanceBits) - 1;
  if (literalMode != kLiteralBinary && literalMode != kLiteralAscii) return kImplodeBadLiteralMode;
  FillSymbols(*state);

  std::memset(state->outBuffer, 0, sizeof state->outBuffer);
  state->outBuffer[0] = static_cast<std::uint8_t>(literalMode);
  state->outBuffer[1] = static_cast<std::uint8_t>(state->distanceBits);
  state->outBytes = 2;
  state->outBits = 0;

  RunPasses(*state);

  PutBits(*state, state->symbolBits[kImplodeEndSymbol], state->symbolCodes[kImplodeEndSymbol]);
  if (state->outBits != 0) state->outBytes += 1;
  std::uint32_t size = state->outBytes;
  writeOutput(state->outBuffer, &size, userValue);
  return kImplodeOk;
}

std::int32_t ImplodeBuffer(std::uint8_t* output, std::uint32_t outputCapacity, const std::uint8_t* input,
                           std::uint32_t inputLength) {
  memoryTransfer = MemoryTransfer{input, inputLength, output, 0, outputCapacity, 0};
  // Value-initialised: the zeros are part of what fixes the output (see ImplodeState).
  std::unique_ptr<ImplodeState> state(new (std::nothrow) ImplodeState());
  if (!state) return -1;
  ImplodeStream(ReadFromMemory, WriteToMemory, state.get(), nullptr, kLiteralBinary, 4096);
  if (memoryTransfer.overflow != 0 || memoryTransfer.destinationCount > 0x7FFFFFFFu) return -1;
  return static_cast<std::int32_t>(memoryTransfer.destinationCount);
}
