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
// positions in ascending order and bucketStart points at each group's first entry. Only the last
// pass needs this: the candidates are found through the search index below, and what the sort
// leaves in sortedPositions matters only where the last pass's comparisons read past the data.
void SortPositions(ImplodeState& state, std::uint32_t first, std::uint32_t last) {
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
}

// The searches compare up to eight bytes at a time as little-endian words; every host this codec
// runs on (x86, x86-64 and the i686 Windows build) is little-endian. The window array extends far
// enough past the last position (by the sorted entries) that these loads stay inside it.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "word comparisons assume little-endian bytes");

inline std::uint32_t Triple(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16);
}

inline std::uint64_t Word64(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Index of the lowest differing byte of two words that differ (little-endian).
inline std::uint32_t FirstDifference(std::uint64_t difference) {
  return static_cast<std::uint32_t>(__builtin_ctzll(difference)) >> 3;
}

inline std::uint32_t TripleHash(std::uint32_t triple) {
  return (triple * 2654435761u) >> (32 - kTripleHashBits);
}

constexpr std::uint16_t kNoPosition = 0xFFFF;  // ends a triple chain: above every position
constexpr std::uint32_t kTripleHeads = kImplodeWindowSize;  // tripleNext index of chain 0's head

// Builds the search index over the positions first..last, the candidates of this pass:
//  - triple chains: the positions of each hash of their first three bytes, in ascending order, so
//    a search visits only the candidates that can match three bytes, farthest first;
//  - pair links: from each position to the next lower one with the same pair hash, so that when no
//    candidate matches three bytes the nearest two-byte repetition is one step away.
// The hashes of the last positions may take bytes past the data; those positions are never
// candidates, and the searches hash their own position again from the window as it is.
// Returns the position that the counting sort would put first: the lowest one of the lowest pair
// hash.
std::uint32_t IndexPositions(ImplodeState& state, std::uint32_t first, std::uint32_t last) {
  const std::uint8_t* window = state.window;
  std::uint16_t* next = state.tripleNext;
  // An empty chain's tail is its head entry, so linking the first position sets the head.
  for (std::uint32_t hash = 0; hash < kTripleHashSize; ++hash) {
    state.tripleTail[hash] = static_cast<std::uint16_t>(kTripleHeads + hash);
    next[kTripleHeads + hash] = kNoPosition;
  }
  std::memset(state.pairLast, 0, sizeof state.pairLast);
  std::uint32_t lowestPair = kPairHashBuckets;
  std::uint32_t firstSorted = first;
  for (std::uint32_t q = first; q <= last; ++q) {
    const std::uint32_t triple = TripleHash(Triple(window + q));
    next[q] = kNoPosition;
    next[state.tripleTail[triple]] = static_cast<std::uint16_t>(q);
    state.tripleTail[triple] = static_cast<std::uint16_t>(q);
    const std::uint32_t pair = PairHash(window, q);
    state.pairPrevious[q] = state.pairLast[pair];
    state.pairLast[pair] = static_cast<std::uint16_t>(q);
    if (pair < lowestPair) {
      lowestPair = pair;
      firstSorted = q;
    }
  }
  return firstSorted;
}

// How many of the bytes at `a` and `b` agree, counting on from `from`, at most 516 (the comparison
// may read a few bytes past the 516th; they do not count).
inline std::uint32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t from) {
  std::uint32_t n = from;
  for (;;) {
    const std::uint64_t difference = Word64(a + n) ^ Word64(b + n);
    if (difference != 0) {
      n += FirstDifference(difference);
      return n < kImplodeMaxMatch ? n : kImplodeMaxMatch;
    }
    n += 8;
    if (n >= kImplodeMaxMatch) return kImplodeMaxMatch;
  }
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

// The rest of a candidate scan once a match longer than 10 bytes is known at candidate c0 (length
// best). A candidate can only beat or tie `best` if it matches at least that far, and the border
// table tells which later candidates inside the known match can: the others are skipped, and a
// candidate that starts at a border reuses the bytes already compared. The skip stays sound after
// any compared candidate, so candidates that cannot match three bytes are passed over unseen.
// Returns exactly what the plain scan would, ties and the 516 cap included.
std::uint32_t ContinueLongMatch(ImplodeState& state, std::uint32_t p, std::uint32_t c0, std::uint32_t best) {
  const std::uint8_t* window = state.window;
  const std::uint16_t* next = state.tripleNext;
  const std::uint32_t reach = p - 1;  // candidates lie below p - 1
  if (next[c0] >= reach) return best;
  const std::uint32_t triple = Triple(window + p);

  BorderTable border{state.borderTable, 1, 0};
  border.lengths[0] = -1;
  border.lengths[1] = 0;
  border.Extend(window + p, best);

  std::uint32_t c = c0;
  std::uint32_t end = c0 + best;  // window index where the last comparison stopped
  std::uint32_t j = best;         // bytes that matched there
  for (;;) {
    const std::int32_t borderLength = border.lengths[j];
    const std::uint32_t known = borderLength < 0 ? 0 : static_cast<std::uint32_t>(borderLength);
    // Candidates that start before end - known cannot reach end (the border is the longest), so
    // they match fewer than j <= best bytes.
    do {
      c = next[c];
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
        c = next[c];
        if (c >= reach) return best;
        if (window[c + best - 2] == window[p + best - 2] && Triple(window + c) == triple) break;
      }
      j = 3;
      t = c + 3;
    }
    // Compare on from j; t keeps pace with j, and the 516th byte ends it.
    for (;;) {
      const std::uint64_t difference = Word64(window + p + j) ^ Word64(window + t);
      if (difference != 0) {
        const std::uint32_t step = FirstDifference(difference);
        j += step;
        t += step;
        break;
      }
      j += 8;
      t += 8;
      if (j >= kImplodeMaxMatch) break;
    }
    if (j >= kImplodeMaxMatch) j = kImplodeMaxMatch;
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
// distance - 1 in matchDistance. The candidates are the positions of this pass from
// p - dictionarySize + 1 to p - 2 that start with the same two bytes. Among them the longest match
// wins; among equally long ones the nearest, except that among those reaching 516 the farthest
// does. Distance 1 is never used.
//
// Every candidate that matches three bytes lies on p's triple chain, and these are scanned farthest
// first exactly as the plain scan over all pair candidates would, ties and the 516 cap included.
// Only when none matches three bytes do the two-byte candidates count; all of them then match
// exactly two bytes, so the nearest one wins.
std::uint32_t FindLongestMatch(ImplodeState& state, std::uint32_t p) {
  const std::uint8_t* window = state.window;
  std::uint16_t* next = state.tripleNext;
  const std::uint32_t lowest = p - state.dictionarySize + 1;
  const std::uint32_t reach = p - 1;
  const std::uint32_t triple = Triple(window + p);

  // The lowest position in reach only grows during a pass, so positions left behind stay out of
  // reach and the chain's head moves past them for good.
  std::uint16_t& head = next[kTripleHeads + TripleHash(triple)];
  std::uint32_t c = head;
  if (c < lowest) {
    do c = next[c];
    while (c < lowest);
    head = static_cast<std::uint16_t>(c);
  }

  std::uint32_t best = 2;  // no three-byte candidate yet
  for (; c < reach; c = next[c]) {
    if (Triple(window + c) != triple || window[c + best - 1] != window[p + best - 1]) continue;
    const std::uint32_t n = MatchLength(window + c, window + p, 3);
    if (n < best) continue;
    best = n;
    state.matchDistance = p - c - 1;
    if (best == kImplodeMaxMatch) return best;
    if (best > kLongMatchThreshold) return ContinueLongMatch(state, p, c, best);
  }
  if (best > 2) return best;

  // The nearest position below p - 1 with the same two bytes (same pair hash and first byte).
  c = state.pairPrevious[p];
  if (c == reach) c = state.pairPrevious[c];
  while (c >= lowest && window[c] != window[p]) c = state.pairPrevious[c];
  if (c < lowest) return 0;
  state.matchDistance = p - c - 1;
  return 2;
}

// Codes the positions from *position up to `limit` (exclusive) with a one-position look-ahead.
// A match may carry the position past limit; the next pass starts there.
void CodePositions(ImplodeState& state, std::uint32_t* position, std::uint32_t limit, bool lastPass) {
  const std::uint8_t* window = state.window;
  std::uint32_t p = *position;
  while (p < limit) {
    std::uint32_t n = FindLongestMatch(state, p);
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
      const std::uint32_t next = FindLongestMatch(state, p + 1);
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
    // Only the last pass's comparisons can run past the data into the sorted entries, so only the
    // last pass sorts. One byte of an earlier sort still counts: when the last pass ends at window
    // index 8707, its sort takes the pair of that position from the first sorted entry as the
    // previous pass left it. So every other pass leaves that entry as its sort would have.
    if (inputEnded) SortPositions(state, first, limit);
    const std::uint32_t firstSorted = IndexPositions(state, first, limit);
    if (!inputEnded) SetSortedPosition(state, 0, firstSorted);
    CodePositions(state, &p, limit, inputEnded);
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
