// The implode-stream encoder and its memory-to-memory wrapper. Every choice below (pass geometry,
// candidate order, tie-breaks, thresholds) is part of the output: packages built from the same files
// must be byte-identical, so speed-ups may change how a result is found, never the result.
#include "codec/implode.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codec/implode_pieces.h"
#include "codec/memory_transfer.h"

namespace {

static_assert(sizeof(ImplodeState::window) == 3 * kImplodeWindowSize,
              "the sorted positions must follow the window in the same array");

// Dictionaries above 4096 bytes do not exist, and 2 * 4096 + 516 window positions must fit the
// 16-bit sorted entries and bucket counters.
static_assert(kImplodeWindowSize <= 0xFFFF, "window positions must fit 16 bits");

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

// The hash that orders the sorted positions: 4 * first byte + 5 * second byte.
inline std::uint32_t PairHash(const std::uint8_t* window, std::uint32_t position) {
  return 4u * window[position] + 5u * window[position + 1];
}

// The head of a match whose length code is `code` with extra value `extra`: the flag bit, the code
// and the extra bits, first bit in bit 0. It is 1 + code.bits + code.extraBits bits long.
inline std::uint16_t LengthHead(const LengthCode& code, std::uint32_t extra) {
  return static_cast<std::uint16_t>((extra << (code.bits + 1)) | (std::uint32_t{code.value} << 1) | 1);
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
      state.symbolCodes[symbol] = LengthHead(code, extra);
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

// How far past the end of the data a last pass reads at most: a comparison or run count from a
// position before the end counts up to 516 bytes, reading whole words (the up to 7 bytes it reads
// beyond those do not count).
constexpr std::uint32_t kFarthestRead = kImplodeMaxMatch + 8;

// Groups the positions first..last by pair hash with a counting sort; each group lists its
// positions in ascending order and bucketStart points at each group's first entry. Only the last
// pass needs this: the candidates are found through the search index, and what the sort leaves in
// sortedPositions matters only where the last pass's comparisons read past the data.
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

// The lowest pair hash among `count` positions; a plain loop the compiler turns into vector code.
std::uint32_t LowestPairHash(const std::uint8_t* bytes, std::uint32_t count) {
  std::int16_t lowest = 0x7FFF;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto hash = static_cast<std::int16_t>(4 * bytes[i] + 5 * bytes[i + 1]);
    lowest = hash < lowest ? hash : lowest;
  }
  return static_cast<std::uint32_t>(lowest);
}

// The position the counting sort of first..last would put first: the lowest one with the lowest
// pair hash.
std::uint32_t FirstSortedPosition(const std::uint8_t* window, std::uint32_t first, std::uint32_t last) {
  const std::uint32_t lowest = LowestPairHash(window + first, last - first + 1);
  std::uint32_t q = first;
  while (PairHash(window, q) != lowest) ++q;
  return q;
}

// The searches compare up to eight bytes at a time as little-endian words; every host this codec
// runs on (x86, x86-64 and the i686 Windows build) is little-endian. The window array extends far
// enough past the last position (by the sorted entries) that these loads stay inside it.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "word comparisons assume little-endian bytes");

inline std::uint64_t Word64(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Index of the lowest differing byte of two words that differ (little-endian).
inline std::uint32_t FirstDifference(std::uint64_t difference) {
  return static_cast<std::uint32_t>(__builtin_ctzll(difference)) >> 3;
}

// How many bytes at `a` and `b` agree, counting on from `from` (known to agree before it), at most
// 516. The comparison may read a few bytes past the 516th; they do not count.
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

// The prefix length of each level of the search index. Level 0 finds the nearest candidate matching
// three bytes; the longer levels let a search that already has a match skip the candidates that
// cannot beat it.
constexpr std::uint32_t kLevelBytes[kSearchLevels] = {3, 4};
constexpr std::uint32_t kTripleLevel = 0;
constexpr std::uint32_t kLongestLevel = kSearchLevels - 1;

constexpr std::uint64_t PrefixMask(std::uint32_t bytes) { return bytes >= 8 ? ~0ull : (1ull << (8 * bytes)) - 1; }

// The longest level whose prefix is at most `length` bytes.
inline std::uint32_t LevelFor(std::uint32_t length) {
  std::uint32_t level = kTripleLevel;
  while (level < kLongestLevel && kLevelBytes[level + 1] <= length) ++level;
  return level;
}

// Multiplicative hashes; 32-bit arithmetic only, which the i686 build does in one instruction.
static_assert(kLevelBytes[kLongestLevel] <= 4, "a level's prefix must fit the 32-bit hash");
inline std::uint32_t ChainHash(std::uint64_t word, std::uint32_t level) {
  const auto prefix = static_cast<std::uint32_t>(word & PrefixMask(kLevelBytes[level]));
  return (prefix * 2654435761u) >> (32 - kChainHashBits[level]);
}

// Lists position `at`, whose first four bytes are `byte`: it starts a run, or lengthens the one the
// previous position started or lengthened.
inline void ListRunPosition(ImplodeState& state, std::uint32_t at, std::uint32_t byte) {
  ByteRun* latest = state.runs + state.listedRuns - 1;
  if (state.listedRuns != 0 && latest->end == at + kListedRunLength - 1) {
    latest->end = static_cast<std::uint16_t>(at + kListedRunLength);
  } else if (state.listedRuns < kMaxListedRuns) {  // always (see kMaxListedRuns)
    state.runs[state.listedRuns++] = {static_cast<std::uint16_t>(at), static_cast<std::uint16_t>(at + kListedRunLength),
                                      static_cast<std::uint16_t>(byte), state.latestRunOf[byte], 0, 0};
    state.latestRunOf[byte] = static_cast<std::uint16_t>(state.listedRuns);
  }
}

// Adds the positions from indexedUpTo to `last` to every level's chains, and lists their runs. Each
// position is added in the pass its block arrives in: its bytes (and, near the end of the input,
// whatever the window and the sorted entries behind the data hold, which the comparisons see alike)
// no longer change.
void IndexPositions(ImplodeState& state, std::uint32_t last) {
  const std::uint8_t* window = state.window;
  const std::uint32_t offset = state.windowOffset;
  for (std::uint32_t q = state.indexedUpTo; q <= last; ++q) {
    const std::uint64_t word = Word64(window + q);
    for (std::uint32_t level = 0; level < kSearchLevels; ++level) {
      std::uint16_t& lastOfHash = state.chainLast[level][ChainHash(word, level)];
      state.chainPrevious[level][q] = lastOfHash;
      if (level == kLongestLevel) state.chainSkip[q] = state.chainPrevious[level][lastOfHash];
      lastOfHash = static_cast<std::uint16_t>(q);
    }
    const std::uint32_t pair = static_cast<std::uint32_t>(word) & 0xFFFF;
    state.pairBack[q] = static_cast<std::uint8_t>(offset + q - state.pairLatest[pair]);
    state.pairLatest[pair] = static_cast<std::uint8_t>(offset + q);
    // Four times one byte: the same bytes turned by one.
    const auto head = static_cast<std::uint32_t>(word);
    if (head == ((head << 8) | (head >> 24))) ListRunPosition(state, q, head & 0xFF);
  }
  state.indexedUpTo = last + 1;
}

// Starts the index empty, adding positions from `first` (at least 1) on.
void StartIndex(ImplodeState& state, std::uint32_t first) {
  state.indexedUpTo = first;
  state.listedRuns = state.listedBelow = 0;
  for (std::uint32_t level = 0; level < kSearchLevels; ++level) state.chainPrevious[level][0] = 0;
  state.chainSkip[0] = 0;
  std::memset(state.latestRunOf, 0, sizeof state.latestRunOf);
  std::memset(state.latestRunBelowOf, 0, sizeof state.latestRunBelowOf);
  state.endedRuns = 0;
  std::memset(state.latestRunEnding, 0, sizeof state.latestRunEnding);
}

// The two bytes at `position`, the first in the low half (one little-endian load).
inline std::uint32_t PairAt(const std::uint8_t* window, std::uint32_t position) {
  std::uint16_t pair;
  std::memcpy(&pair, window + position, sizeof pair);
  return pair;
}

// The nearest position from `lowest` to p - 2 whose two bytes are p's, provided it lies within the
// reach of a two-byte match (distance - 1 below 256); else 0. A farther pair would be coded as two
// literals, exactly as no pair at all, so it need not be found.
//
// Every position added before p (see pairBack) holds how far back the previous one with its pair
// lies, modulo 256: when that is within 256 (0 meaning 256), it is the nearest. p's own entry
// names it, or p - 1, whose entry then names the next. When the previous one lies farther back,
// the position named has other bytes (it lies after the previous one), and the test of its bytes
// turns it down; so does the test of the bytes at p - 1 when p's entry names it wrongly.
inline std::uint32_t NearPair(const ImplodeState& state, std::uint32_t p, std::uint32_t lowest) {
  const std::uint8_t* window = state.window;
  if (p < lowest + 2) return 0;
  std::uint32_t back = state.pairBack[p] == 0 ? kShortMatchReach : state.pairBack[p];
  if (back == 1) back += state.pairBack[p - 1] == 0 ? kShortMatchReach : state.pairBack[p - 1];
  if (back > kShortMatchReach || p - back < lowest) return 0;
  const std::uint32_t c = p - back;
  return PairAt(window, c) == PairAt(window, p) ? c : 0;
}

// Positions move 4096 down with the window; those that fall out become 0. No search reaches
// position 0: p is never below dictionarySize, so the lowest position in reach is at least 1.
inline void SlidePositions(std::uint16_t* positions, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint16_t position = positions[i];
    positions[i] = static_cast<std::uint16_t>(position > kImplodeBlock ? position - kImplodeBlock : 0);
  }
}

// Moves the index with the window: the links of the `kept` positions that stay, and every chain's
// highest position. Only the links of positions already added hold positions to move; those of the
// others are moved as they are and set when their positions are added.
void SlideIndex(ImplodeState& state, std::uint32_t kept) {
  const std::uint32_t added = state.indexedUpTo - kImplodeBlock;
  for (std::uint32_t level = 0; level < kSearchLevels; ++level) {
    std::uint16_t* previous = state.chainPrevious[level];
    std::memmove(previous, previous + kImplodeBlock, kept * sizeof previous[0]);
    SlidePositions(previous, added);
    SlidePositions(state.chainLast[level], ChainHashSize(level));
  }
  std::memmove(state.chainSkip, state.chainSkip + kImplodeBlock, kept * sizeof state.chainSkip[0]);
  SlidePositions(state.chainSkip, added);
  state.indexedUpTo -= kImplodeBlock;
  // Runs that end below kListedRunLength + 1 hold no position a search can reach with four bytes.
  std::uint32_t dropped = 0;
  while (dropped < state.listedRuns && state.runs[dropped].end < kImplodeBlock + kListedRunLength + 1) ++dropped;
  // Links to dropped runs become "none": the runs below those are dropped too.
  const auto moved = [dropped](std::uint16_t link) { return static_cast<std::uint16_t>(link > dropped ? link - dropped : 0); };
  for (std::uint32_t i = dropped; i < state.listedRuns; ++i) {
    const ByteRun run = state.runs[i];
    state.runs[i - dropped] = {static_cast<std::uint16_t>(run.start > kImplodeBlock ? run.start - kImplodeBlock : 0),
                               static_cast<std::uint16_t>(run.end - kImplodeBlock), run.byte, moved(run.sameBefore),
                               run.after, moved(run.sameEnding)};
  }
  if (dropped != 0) {
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      state.latestRunOf[byte] = moved(state.latestRunOf[byte]);
      state.latestRunBelowOf[byte] = moved(state.latestRunBelowOf[byte]);
    }
    for (std::uint16_t& latest : state.latestRunEnding) latest = moved(latest);
  }
  state.endedRuns = state.endedRuns > dropped ? state.endedRuns - dropped : 0;
  state.listedRuns -= dropped;
  state.listedBelow = state.listedBelow > dropped ? state.listedBelow - dropped : 0;
  std::memmove(state.pairBack, state.pairBack + kImplodeBlock, kept * sizeof state.pairBack[0]);
  state.windowOffset += kImplodeBlock;
}

// How many bytes from `from` on equal `byte`, counting at most `cap`. May read up to 7 bytes past
// the last one it counts.
inline std::uint32_t RunLength(const std::uint8_t* window, std::uint32_t from, std::uint64_t pattern,
                               std::uint32_t cap) {
  std::uint32_t n = 0;
  for (;;) {
    const std::uint64_t difference = Word64(window + from + n) ^ pattern;
    if (difference != 0) {
      n += FirstDifference(difference);
      return n < cap ? n : cap;
    }
    n += 8;
    if (n >= cap) return cap;
  }
}

// The lowest position from `lowest` up to `from` such that every byte from it to `from` equals the
// pattern's byte (`from` itself does).
inline std::uint32_t RunStart(const std::uint8_t* window, std::uint32_t from, std::uint64_t pattern,
                              std::uint32_t lowest) {
  std::uint32_t s = from;
  while (s >= lowest + 8) {
    const std::uint64_t difference = Word64(window + s - 8) ^ pattern;
    // The highest differing byte of the word ends the run (little-endian: the most significant).
    if (difference != 0) return s - (static_cast<std::uint32_t>(__builtin_clzll(difference)) >> 3);
    s -= 8;
  }
  while (s > lowest && window[s - 1] == static_cast<std::uint8_t>(pattern)) --s;
  return s;
}

// Among the candidates that match 516 bytes the farthest wins; c0 is the nearest of them. All of
// them share p's first eight bytes, so they lie on p's 4-byte chain below c0, down to the lowest
// position in reach; the walk down that chain is bounded by the dictionary size. The chain is
// collected and tested from its far end, where in a repeating pattern the first test nearly always
// matches. (Searches in runs of one byte find their farthest match themselves, see LongestInRuns.)
std::uint32_t FarthestFullMatch(ImplodeState& state, std::uint32_t p, std::uint32_t c0, std::uint32_t lowest) {
  const std::uint8_t* window = state.window;
  const std::uint64_t word = Word64(window + p);
  const std::uint16_t* previous = state.chainPrevious[kLongestLevel];
  std::uint16_t* candidates = state.farthestCandidates;
  std::uint32_t count = 0;
  for (std::uint32_t c = previous[c0]; c >= lowest; c = previous[c]) candidates[count++] = static_cast<std::uint16_t>(c);
  while (count > 0) {
    const std::uint32_t c = candidates[--count];
    if (Word64(window + c) == word && window[c + kImplodeMaxMatch - 1] == window[p + kImplodeMaxMatch - 1] &&
        MatchLength(window + c, window + p, 0) == kImplodeMaxMatch) {
      return c;
    }
  }
  return c0;
}

// The result of a search at p whose first four bytes are one byte, `run` of them in a row (4 to
// 516), over the candidates that match four bytes or more; 0 when there is none, else its length,
// with its position in *position.
//
// Such a candidate lies in a run of the same byte, the candidate's own run being the bytes from it
// to the run's end. Against p's run of `run` bytes, a candidate whose own run has k bytes matches k
// bytes when k < run, exactly `run` when k > run, and `run` or more when k == run. So of a run's
// positions in reach, from s (the run's start or the lowest position in reach) to its end e, the
// best is e - run, the only one with k == run, when the run is that long (the positions below it
// match exactly `run`, those above fewer), else s. Among runs the nearest of the longest wins: the
// runs are looked at from the nearest down, each replacing the best only when longer. When p's run
// is 516 bytes, every position with 516 bytes of the run ahead matches all of p, and the farthest
// of those wins: a run's start, of the farthest such run. p's own run is not listed (or lies above
// the search); its positions below p - 1 have more of the byte ahead than p, and match exactly `run`.
// The bucket of the runs of `byte` followed by `after`.
inline std::uint32_t RunEndingBucket(std::uint32_t byte, std::uint32_t after) {
  return ((byte * 256 + after) * 2654435761u) >> (32 - 10);
}
static_assert(kRunEndingBuckets == 1u << 10, "RunEndingBucket gives 10 bits");

inline std::uint32_t Found(std::uint32_t at, std::uint32_t best, std::uint32_t* position) {
  *position = at;
  return best;
}

std::uint32_t LongestInRuns(ImplodeState& state, std::uint32_t p, std::uint32_t lowest, std::uint32_t run,
                            std::uint32_t* position) {
  const std::uint8_t* window = state.window;
  const std::uint8_t byte = window[p];
  std::uint32_t best = 0;
  std::uint32_t at = 0;
  if (p - 2 >= lowest && window[p - 2] == byte && window[p - 1] == byte) {
    best = run;
    at = run == kImplodeMaxMatch ? RunStart(window, p - 2, byte * 0x0101010101010101ull, lowest) : p - 2;
  }
  std::uint32_t below = state.listedBelow;
  for (; below < state.listedRuns && state.runs[below].start < p; ++below) {
    state.latestRunBelowOf[state.runs[below].byte] = static_cast<std::uint16_t>(below + 1);
  }
  state.listedBelow = below;
  // Runs below p's own run have ended: their last positions were added without lengthening them.
  for (std::uint32_t i = state.endedRuns; i < below && state.runs[i].end <= p; ++i) {
    ByteRun& ended = state.runs[i];
    ended.after = window[ended.end];
    std::uint16_t& latest = state.latestRunEnding[RunEndingBucket(ended.byte, ended.after)];
    ended.sameEnding = latest;
    latest = static_cast<std::uint16_t>(i + 1);
    state.endedRuns = i + 1;
  }
  // Looks at one run; false once the runs lie below the lowest position in reach.
  const auto look = [&](const ByteRun& listed) {
    if (listed.end < lowest + kListedRunLength) return false;
    if (listed.end > p) return true;
    const std::uint32_t s = listed.start > lowest ? listed.start : lowest;
    const std::uint32_t length = listed.end - s;
    if (length < run) {
      if (length > best) {
        best = length;
        at = s;
      }
    } else if (run == kImplodeMaxMatch) {
      best = kImplodeMaxMatch;
      at = s;
    } else {
      // Only a candidate that matches beyond the best so far, or all of p, counts.
      const std::uint32_t c = listed.end - run;
      const std::uint32_t probe = best < kImplodeMaxMatch ? best : kImplodeMaxMatch - 1;
      if (window[c + probe] != window[p + probe]) return true;
      const std::uint32_t n = MatchLength(window + c, window + p, run);
      if (n > best || n == kImplodeMaxMatch) {
        best = n;
        at = c;
      }
    }
    return true;
  };
  // Down the list while it holds runs of the byte one after another (the next index is known before
  // the run is read), else along the link to the next one: a byte whose runs are rare is not kept
  // waiting by the others. Once the best is p's run or longer (and p's run is not 516 bytes), only
  // a run as long as p's, and followed by the byte that follows p's run, can match more or all of p:
  // the rest of the walk follows the runs that end alike.
  std::uint32_t next = state.latestRunBelowOf[byte];
  std::uint32_t walkedDownTo = ~0u;  // the runs from this index up have been looked at
  if (best < run || run == kImplodeMaxMatch) {
    while (next != 0) {
      std::uint32_t i = next - 1;
      for (;;) {
        const ByteRun& listed = state.runs[i];
        if (!look(listed)) return Found(at, best, position);
        if (best >= run && run < kImplodeMaxMatch) {
          walkedDownTo = i;
          break;
        }
        if (i == 0 || state.runs[i - 1].byte != byte) {
          next = listed.sameBefore;
          break;
        }
        --i;
      }
      if (walkedDownTo != ~0u) break;
    }
    if (walkedDownTo == ~0u) return Found(at, best, position);
  }
  const std::uint32_t following = window[p + run];
  for (std::uint32_t link = state.latestRunEnding[RunEndingBucket(byte, following)]; link != 0;) {
    const ByteRun& listed = state.runs[link - 1];
    const std::uint32_t index = link - 1;
    link = listed.sameEnding;
    if (index >= walkedDownTo || listed.byte != byte || listed.after != following) continue;
    if (!look(listed)) break;
  }
  *position = at;
  return best;
}

// Goes on with a search at p that has found `best` bytes at bestPosition, every candidate nearer
// than it matching fewer; bestPosition is p - 1 when nothing was found yet. Returns the search's
// result, with its distance - 1 in matchDistance when it is longer than the `best` it was given.
std::uint32_t ExtendMatch(ImplodeState& state, std::uint32_t p, std::uint32_t lowest, std::uint32_t best,
                          std::uint32_t bestPosition) {
  const std::uint8_t* window = state.window;
  const std::uint64_t word = Word64(window + p);
  std::uint32_t c;
  // When p's first four bytes are one byte, the candidates are found in the listed runs: long runs
  // (zeros in executables above all) put thousands of positions on the same chains. The search then
  // holds no more than `best` only where nothing matches four bytes (when `best` is 3, or the
  // floor of 2 and a three-byte match decides).
  const std::uint64_t runPattern = (word & 0xFF) * 0x0101010101010101ull;
  if (((word ^ runPattern) & PrefixMask(4)) == 0) {
    const std::uint32_t run = RunLength(window, p, runPattern, kImplodeMaxMatch);
    std::uint32_t at;
    const std::uint32_t longest = LongestInRuns(state, p, lowest, run, &at);
    if (longest > best || longest == kImplodeMaxMatch) {
      state.matchDistance = p - at - 1;
      return longest;
    }
    if (longest == 0 && best < 3) {
      // Nothing matches four bytes; the nearest candidate matching three is the result.
      const std::uint16_t* triples = state.chainPrevious[kTripleLevel];
      const std::uint64_t triple = word & PrefixMask(3);
      c = triples[p];
      while (c >= lowest && (c >= p - 1 || (Word64(window + c) & PrefixMask(3)) != triple)) c = triples[c];
      if (c >= lowest) {
        state.matchDistance = p - c - 1;
        return 3;
      }
    }
    state.matchDistance = p - bestPosition - 1;
    return best;
  }
  while (best < kImplodeMaxMatch) {
    // A better candidate shares p's first best + 1 bytes, so it lies on the chain of the longest
    // level not longer than that. The best candidate is on that chain too when it matches the
    // level's prefix; otherwise the walk starts at p and passes over what lies above the best.
    const std::uint32_t level = LevelFor(best + 1);
    const std::uint32_t prefix = kLevelBytes[level];
    const std::uint64_t mask = PrefixMask(prefix);
    const std::uint16_t* previous = state.chainPrevious[level];
    bool better = false;
    c = best >= prefix && bestPosition < p - 1 ? previous[bestPosition] : previous[p];
    while (c >= bestPosition) c = previous[c];
    // A candidate that matches more than `best` matches byte `best` and the level's prefix.
    const auto beats = [&](std::uint32_t candidate) {
      if (window[candidate + best] != window[p + best] || ((Word64(window + candidate) ^ word) & mask) != 0) return false;
      const std::uint32_t n = MatchLength(window + candidate, window + p, prefix);
      if (n <= best) return false;
      best = n;
      bestPosition = candidate;
      return true;
    };
    if (level == kLongestLevel) {
      // Two candidates a step, the nearer first: c and its link.
      const std::uint16_t* skip = state.chainSkip;
      while (c >= lowest) {
        const std::uint32_t d = previous[c];
        const std::uint32_t next = skip[c];
        if (beats(c) || (d >= lowest && beats(d))) {
          better = true;
          break;
        }
        c = next;
      }
    } else {
      for (; c >= lowest; c = previous[c]) {
        if (beats(c)) {
          better = true;
          break;
        }
      }
    }
    if (!better) break;
  }
  if (best == kImplodeMaxMatch) bestPosition = FarthestFullMatch(state, p, bestPosition, lowest);
  state.matchDistance = p - bestPosition - 1;
  return best;
}

// Longest earlier repetition of the bytes at p: 0, or 2 to 516, with its distance - 1 in
// matchDistance. The candidates are the positions from max(passFirst, p - dictionarySize + 1) to
// p - 2 (the positions the pass sorts, within the dictionary; distance 1 is never used) that start
// with the same two bytes as p. The longest match wins; among equally long ones the nearest, except
// that among those reaching 516 the farthest does. This is what scanning all candidates farthest
// first gives, keeping every match at least as long as the best so far and stopping at the first
// that reaches 516.
//
// The search goes nearest first instead, so that only a longer match can replace the best: it finds
// the nearest candidate matching three bytes on p's 3-byte chain, then, as long as one exists, the
// nearest farther one that matches at least one byte more, on the chain of the longest prefix that
// such a candidate must share with p. Every candidate nearer than the best then matches fewer bytes,
// so the best is the nearest of the longest. When no candidate matches three bytes, they all match
// exactly two and the nearest wins; it is looked up directly, and only when it is near enough to be
// coded as a match (see NearPair).
// Always inlined: both builds of the pass loop (ImplodeStream's and the pieces') call it, and as a
// function of its own it cost the plain encoder 1.3% more instructions.
[[gnu::always_inline]] inline std::uint32_t FindLongestMatch(ImplodeState& state, std::uint32_t p, std::uint32_t passFirst) {
  const std::uint8_t* window = state.window;
  const std::uint32_t dictionaryStart = p - state.dictionarySize + 1;
  const std::uint32_t lowest = dictionaryStart > passFirst ? dictionaryStart : passFirst;
  const std::uint32_t reach = p - 1;  // candidates lie below p - 1
  const std::uint64_t word = Word64(window + p);

  std::uint32_t c;
  if (((word ^ (word & 0xFF) * 0x0101010101010101ull) & PrefixMask(4)) == 0) {
    // Four times one byte: ExtendMatch looks in the listed runs, and finds any three-byte match.
    const std::uint32_t n = ExtendMatch(state, p, lowest, 2, reach);
    if (n > 2) return n;
    c = 0;
  } else {
    // The chains link positions with equal hashes; the prefix itself is compared.
    const std::uint16_t* triples = state.chainPrevious[kTripleLevel];
    const std::uint64_t triple = word & PrefixMask(3);
    c = triples[p];
    while (c >= lowest && (c >= reach || (Word64(window + c) & PrefixMask(3)) != triple)) c = triples[c];
  }
  if (c < lowest) {
    c = NearPair(state, p, lowest);
    if (c == 0) return 0;
    state.matchDistance = p - c - 1;
    return 2;
  }

  return ExtendMatch(state, p, lowest, MatchLength(window + c, window + p, 3), c);
}

// FindLongestMatch's result at p when it is longer than `floor` (2 to 7), else 0: what the
// look-ahead needs to know, found without looking for the shorter candidates.
std::uint32_t FindLongerMatch(ImplodeState& state, std::uint32_t p, std::uint32_t passFirst, std::uint32_t floor) {
  const std::uint32_t dictionaryStart = p - state.dictionarySize + 1;
  const std::uint32_t lowest = dictionaryStart > passFirst ? dictionaryStart : passFirst;
  const std::uint32_t best = ExtendMatch(state, p, lowest, floor, p - 1);
  return best > floor ? best : 0;
}

// What ImplodeStream notes about its tokens: nothing. The pieces of a parallel encoding note every
// token and may stop early (PieceRecord); CodePositions and RunPasses take either, so the plain
// encoder's loop is compiled without any of that.
struct NoRecord {
  void BeginPass(std::uint64_t) {}
  bool Stops(std::uint32_t) { return false; }
  void Coded(const ImplodeState&, std::uint32_t) {}
};

// Codes the positions from *position up to `limit` (exclusive) with a one-position look-ahead.
// A match may carry the position past limit; the next pass starts there. `passFirst` is the lowest
// position the pass sorts: no candidate lies below it. `record` learns of every token after it is
// written, and may end the pass early at a token start.
template <typename Record>
void CodePositions(ImplodeState& state, std::uint32_t* position, std::uint32_t limit, bool lastPass,
                   std::uint32_t passFirst, Record& record) {
  const std::uint8_t* window = state.window;
  std::uint32_t p = *position;
  while (p < limit && !record.Stops(p)) {
    std::uint32_t n = FindLongestMatch(state, p, passFirst);
    for (;;) {
      if (n == 0 || (n == 2 && state.matchDistance >= kShortMatchReach)) {
        PutLiteral(state, window[p]);
        record.Coded(state, p);
        p += 1;
        break;
      }
      if (lastPass && p + n > limit) {
        // The comparison ran past the data; the match ends where the data does.
        n = limit - p;
        if (n < 2 || (n == 2 && state.matchDistance >= kShortMatchReach)) {
          PutLiteral(state, window[p]);
          record.Coded(state, p);
          p += 1;
        } else {
          PutMatch(state, n, state.matchDistance);
          record.Coded(state, p);
          p += n;
        }
        break;
      }
      if (n >= kNoLookAheadLength || p + 1 >= limit) {
        PutMatch(state, n, state.matchDistance);
        record.Coded(state, p);
        p += n;
        break;
      }
      const std::uint32_t distance = state.matchDistance;
      const std::uint32_t next = FindLongerMatch(state, p + 1, passFirst, n);
      if (n >= next || (next == n + 1 && distance <= kLookAheadNearDistance)) {
        state.matchDistance = distance;
        PutMatch(state, n, distance);
        record.Coded(state, p);
        p += n;
        break;
      }
      // The next position does better: a literal here, then decide there with what was found.
      PutLiteral(state, window[p]);
      record.Coded(state, p);
      p += 1;
      n = next;
    }
  }
  *position = p;
}

// The lowest position pass `pass` sorts (and so the lowest candidate of its searches), given the
// position `passStart` that the pass starts coding at: the data's start in the first pass; in the
// second, with a 4096-byte dictionary, 3580 below its start; otherwise a dictionary below it.
// From the third pass on (the second with the smaller dictionaries) it lies below every position's
// dictionary and so never decides a search, which is what lets a piece of a parallel encoding
// start without knowing where the pass it starts in began (see implode_pieces.h).
inline std::uint32_t PassFirst(std::uint64_t pass, std::uint32_t passStart, std::uint32_t dictionary) {
  if (pass == 0) return passStart;
  if (pass == 1 && dictionary == kImplodeBlock) return passStart - kImplodeBlock + kImplodeMaxMatch;
  return passStart - dictionary;
}

// Codes the input pass by pass from pass `firstPass` on, where the window already holds what that
// pass finds before it reads its block; the first pass starts coding at window position p and
// began at firstPassStart. Returns the window position where coding stopped.
template <typename Record>
std::uint32_t RunPasses(ImplodeState& state, Record& record, std::uint64_t firstPass, std::uint32_t p,
                        std::uint32_t firstPassStart) {
  const std::uint32_t dictionary = state.dictionarySize;
  // New input goes after the dictionary and the reserve that the previous pass left uncoded.
  const std::uint32_t reserveEnd = dictionary + kImplodeMaxMatch;
  for (std::uint64_t pass = firstPass;; ++pass) {
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
    if (pass == 0 && got == 0) return p;

    // Every pass but the last stops 516 positions before its data ends, so a match never runs past
    // the data; those positions are coded in the next pass.
    const std::uint32_t limit = inputEnded ? reserveEnd + got : dictionary + got;
    const std::uint32_t first = PassFirst(pass, pass == firstPass ? firstPassStart : p, dictionary);
    // Only the last pass's comparisons can run past the data into the sorted entries, so only the
    // last pass sorts, before its positions enter the index, and only when its data ends near
    // enough to the sorted entries for those reads to reach them (short inputs never do). One byte
    // of an earlier sort still counts: when the last pass ends at window index 8707 (4096
    // dictionary, a last block of 4095 bytes), its sort takes the pair of that position from the
    // first sorted entry as the previous pass left it. So the other passes leave that entry as
    // their sort would have.
    if (inputEnded && limit + kFarthestRead >= kSortedPositionsOffset) SortPositions(state, first, limit);
    if (pass == 0) {
      // From the data's start (`first`), also for a piece that starts coding later in this pass.
      StartIndex(state, first);
      // With a 4096-byte dictionary the first pass adds positions from 4612 on, and the 516 below
      // them move down with the window unadded: their links start as "none".
      for (std::uint32_t q = kImplodeBlock; q < first; ++q) {
        for (std::uint32_t level = 0; level < kSearchLevels; ++level) state.chainPrevious[level][q] = 0;
        state.chainSkip[q] = 0;
      }
    }
    IndexPositions(state, limit);
    if (!inputEnded && dictionary == kImplodeBlock) {
      SetSortedPosition(state, 0, FirstSortedPosition(state.window, first, limit));
    }
    record.BeginPass(pass);
    CodePositions(state, &p, limit, inputEnded, first, record);
    if (inputEnded || record.Stops(p)) return p;

    std::memmove(state.window, state.window + kImplodeBlock, reserveEnd);
    SlideIndex(state, reserveEnd);
    p -= kImplodeBlock;
  }
}

// Takes the settings and clears what the coding depends on; returns the settings' result.
ImplodeResult SetUp(ImplodeState& state, std::uint32_t literalMode, std::uint32_t dictionarySize) {
  state.literalMode = literalMode;
  state.dictionarySize = dictionarySize;
  switch (dictionarySize) {
    case 1024: state.distanceBits = 4; break;
    case 2048: state.distanceBits = 5; break;
    case 4096: state.distanceBits = 6; break;
    default: return kImplodeBadDictionary;
  }
  state.distanceMask = (1u << state.distanceBits) - 1;
  if (literalMode != kLiteralBinary && literalMode != kLiteralAscii) return kImplodeBadLiteralMode;
  FillSymbols(state);

  // The zeros in the window and behind it are part of what fixes the output (comparisons near the
  // end of the input read them); a head of 0 is an empty chain. The links and the other tables are
  // written before they are read, so they are left as they are: clearing them would cost more than
  // coding a short file.
  std::memset(state.window, 0, sizeof state.window);
  for (std::uint32_t level = 0; level < kSearchLevels; ++level) {
    std::memset(state.chainLast[level], 0, ChainHashSize(level) * sizeof state.chainLast[level][0]);
  }
  // Any entries would do for the two-byte lookup (see NearPair), but it reads only values it set.
  std::memset(state.pairLatest, 0, sizeof state.pairLatest);
  state.windowOffset = 0;
  std::memset(state.outBuffer, 0, sizeof state.outBuffer);
  state.outBytes = 0;
  state.outBits = 0;
  return kImplodeOk;
}

// A piece's view of its tokens (see implode_pieces.h): the bit length of each in tokenBits, and
// where to stop. Positions are the window's in CodePositions, stream offsets in the piece.
class PieceRecord {
 public:
  PieceRecord(ImplodePiece& piece, std::uint64_t firstPass, std::uint32_t reserveEnd)
      : piece_(piece), reserveEnd_(reserveEnd) {
    BeginPass(firstPass);
  }
  // Window position p of pass `pass` is stream offset origin + p (wrapping in the first pass,
  // whose window starts before the stream). Below watchFrom_ no position can stop the piece.
  void BeginPass(std::uint64_t pass) {
    origin_ = pass * kImplodeBlock - reserveEnd_;
    std::uint64_t watch = piece_.stop;
    if (piece_.syncWith != nullptr && piece_.syncFrom < watch) watch = piece_.syncFrom;
    watchFrom_ = watch < origin_ + 1 ? 0 : watch - origin_ > kImplodeWindowSize ? kImplodeWindowSize : static_cast<std::uint32_t>(watch - origin_);
  }
  std::uint64_t Offset(std::uint32_t p) const { return origin_ + p; }
  bool Stops(std::uint32_t p) {
    if (p < watchFrom_) return false;
    const std::uint64_t at = Offset(p);
    if (at >= piece_.stop) return true;
    const ImplodePiece* other = piece_.syncWith;
    if (other != nullptr && at >= piece_.syncFrom && at < piece_.syncBefore && other->tokenBits[at - other->start] != 0) {
      piece_.synced = true;
      return true;
    }
    return false;
  }
  // The token's bit count is the staging position's advance, taken modulo a piece of output: the
  // position is below 8 * 2048 after every token, and no token is that long.
  void Coded(const ImplodeState& state, std::uint32_t p) {
    const std::uint32_t staged = 8 * state.outBytes + state.outBits;
    piece_.tokenBits[Offset(p) - piece_.start] = static_cast<std::uint8_t>((staged - staged_) % (8 * kImplodeOutputPiece));
    staged_ = staged;
  }

 private:
  ImplodePiece& piece_;
  std::uint32_t reserveEnd_;
  std::uint64_t origin_ = 0;
  std::uint32_t watchFrom_ = 0;
  std::uint32_t staged_ = 0;  // the staging position after the last token
};

// A piece's callbacks: the input from the start's block on, and the piece's bits.
struct PieceTransfer {
  MemoryTransfer input;
  ImplodePiece* piece;
};

std::uint32_t ReadPieceInput(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  return ReadFromMemory(buffer, size, &static_cast<PieceTransfer*>(parameter)->input);
}

void AppendToPiece(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  std::vector<std::uint8_t>& bits = static_cast<PieceTransfer*>(parameter)->piece->bits;
  bits.insert(bits.end(), buffer, buffer + *size);
}

// Copies the input bytes from stream offset `from` (which may lie before the stream, where the
// window holds zeros) into `window`, `count` of them; the piece's input holds them.
void CopyInput(const ImplodePiece& piece, std::uint8_t* window, std::int64_t from, std::uint32_t count) {
  std::uint32_t skipped = 0;
  if (from < 0) {
    skipped = static_cast<std::uint32_t>(-from < count ? -from : count);
    std::memset(window, 0, skipped);
  }
  if (skipped < count) {
    std::memcpy(window + skipped, piece.input + (static_cast<std::uint64_t>(from + skipped) - piece.inputOffset),
                count - skipped);
  }
}

// Sets the window up as ImplodeStream leaves it when pass `pass` (at least 1) is about to read its
// block: the dictionary and the reserve before the block, the previous block behind them (where a
// short last block leaves it), and with a 4096-byte dictionary the first sorted entry as the
// previous pass left it.
void SetUpPass(ImplodeState& state, const ImplodePiece& piece, std::uint64_t pass) {
  const std::uint32_t dictionary = state.dictionarySize;
  const std::uint32_t reserveEnd = dictionary + kImplodeMaxMatch;
  const auto blockStart = static_cast<std::int64_t>(pass * kImplodeBlock);
  if (dictionary == kImplodeBlock) {
    // The previous pass's window, read whole (it was not the last), and its sort's first entry.
    const std::int64_t previousOrigin = blockStart - kImplodeBlock - reserveEnd;
    CopyInput(piece, state.window, previousOrigin, reserveEnd + kImplodeBlock);
    const auto previousStart = static_cast<std::uint32_t>(static_cast<std::int64_t>(piece.previousPassStart) - previousOrigin);
    const std::uint32_t first = PassFirst(pass - 1, previousStart, dictionary);
    SetSortedPosition(state, 0, FirstSortedPosition(state.window, first, dictionary + kImplodeBlock));
  }
  CopyInput(piece, state.window, blockStart - reserveEnd, reserveEnd);
  CopyInput(piece, state.window + reserveEnd, blockStart - kImplodeBlock, kImplodeBlock);
  // Every position from 1 on is added to the index in the first pass; none below a search's lowest
  // candidate is ever reached.
  StartIndex(state, 1);
  state.windowOffset = static_cast<std::uint32_t>(blockStart - reserveEnd);
}

}  // namespace

std::uint64_t PieceInputEnd(std::uint64_t stop) {
  // A piece codes token starts below stop + 7 (a look-ahead may add six literals past the stop),
  // so no pass past that of stop + 7; 1034 leaves room to spare.
  return kImplodeBlock * ((stop + 2 * kImplodeMaxMatch + 2) / kImplodeBlock + 2);
}

void ImplodeCodePiece(ImplodePiece& piece, ImplodeState* state) {
  piece.synced = false;
  piece.bitCount = 0;
  piece.result = SetUp(*state, piece.literalMode, piece.dictionarySize);
  if (piece.result != kImplodeOk) return;
  const std::uint32_t reserveEnd = piece.dictionarySize + kImplodeMaxMatch;
  // The pass that codes `start`: the one whose range holds it, or the last one, which codes on to the
  // input's end.
  std::uint64_t pass = (piece.start + kImplodeMaxMatch) / kImplodeBlock;
  if (piece.inputEnds && pass > (piece.inputOffset + piece.inputLength) / kImplodeBlock) {
    pass = (piece.inputOffset + piece.inputLength) / kImplodeBlock;
  }
  // SetUpPass reads from the previous pass's window on; RunPasses reads blocks up to the stop's.
  const std::uint64_t blockStart = pass * kImplodeBlock;
  const std::uint64_t needFrom = blockStart > kImplodeBlock + reserveEnd ? blockStart - kImplodeBlock - reserveEnd : 0;
  const std::uint64_t inputEnd = piece.inputOffset + piece.inputLength;
  if (piece.inputOffset > needFrom || (!piece.inputEnds && inputEnd < PieceInputEnd(piece.stop)) ||
      inputEnd - blockStart > 0xFFFFFFFFu || piece.start > inputEnd || piece.passStart > piece.start ||
      piece.passStart + kImplodeMaxMatch < blockStart ||
      (pass > 0 && piece.previousPassStart + kImplodeBlock + kImplodeMaxMatch < blockStart) ||
      piece.previousPassStart > piece.passStart) {
    piece.result = kImplodePieceInput;
    return;
  }
  try {
    piece.bits.clear();
    const std::uint64_t last = piece.stop < inputEnd ? piece.stop : inputEnd;
    const std::uint64_t positions = last > piece.start ? last - piece.start : 0;
    piece.bits.reserve(positions + positions / 8 + kImplodeOutputPiece + 16);
    piece.tokenBits.assign(positions + 2 * kImplodeMaxMatch, 0);
  } catch (const std::bad_alloc&) {
    piece.result = kImplodeNoMemory;
    return;
  }
  if (pass > 0) SetUpPass(*state, piece, pass);

  PieceTransfer transfer{{piece.input + (blockStart - piece.inputOffset),
                          static_cast<std::uint32_t>(inputEnd - blockStart), nullptr, 0, 0, 0},
                         &piece};
  state->readInput = ReadPieceInput;
  state->writeOutput = AppendToPiece;
  state->userValue = &transfer;
  PieceRecord record(piece, pass, reserveEnd);
  try {
    const auto start = static_cast<std::uint32_t>(piece.start - (blockStart - reserveEnd));
    const auto passStart = static_cast<std::uint32_t>(piece.passStart - (blockStart - reserveEnd));
    const std::uint32_t p = RunPasses(*state, record, pass, start, passStart);
    piece.end = record.Offset(p);
    if (piece.end > inputEnd) piece.end = inputEnd;
    piece.bitCount = 8 * (piece.bits.size() + state->outBytes) + state->outBits;
    // The byte being filled, then zeros enough for the joiner's word reads.
    piece.bits.insert(piece.bits.end(), state->outBuffer, state->outBuffer + state->outBytes + 1);
    piece.bits.insert(piece.bits.end(), 8, 0);
  } catch (const std::bad_alloc&) {
    piece.result = kImplodeNoMemory;
  }
}

std::uint32_t ImplodeTokenCode(std::uint32_t dictionarySize, std::uint32_t length, std::uint32_t distance,
                               std::uint64_t* code) {
  const std::uint32_t value = length - kMinMatchLength;
  const LengthCode* row = LengthCodes;
  while (value >= row->base + (1u << row->extraBits)) ++row;
  const std::uint32_t count = 1u + row->bits + row->extraBits;
  *code = LengthHead(*row, value - row->base);
  if (length == kMaxMatchLength + 1) return count;
  const std::uint32_t lowBits = length == 2 ? 2 : dictionarySize == 1024 ? 4 : dictionarySize == 2048 ? 5 : 6;
  const std::uint32_t part = (distance - 1) >> lowBits;
  const std::uint64_t low = (distance - 1) & ((1u << lowBits) - 1);
  *code |= (DistanceCodes[part].value | (low << DistanceCodes[part].bits)) << count;
  return count + DistanceCodes[part].bits + lowBits;
}

ImplodeResult ImplodeStream(CodecRead readInput, CodecWrite writeOutput, ImplodeState* state, void* userValue,
                            std::uint32_t literalMode, std::uint32_t dictionarySize) {
  const ImplodeResult settings = SetUp(*state, literalMode, dictionarySize);
  if (settings != kImplodeOk) return settings;
  state->readInput = readInput;
  state->writeOutput = writeOutput;
  state->userValue = userValue;
  state->outBuffer[0] = static_cast<std::uint8_t>(literalMode);
  state->outBuffer[1] = static_cast<std::uint8_t>(state->distanceBits);
  state->outBytes = 2;

  NoRecord none;
  const std::uint32_t reserveEnd = dictionarySize + kImplodeMaxMatch;
  RunPasses(*state, none, 0, reserveEnd, reserveEnd);

  PutBits(*state, state->symbolBits[kImplodeEndSymbol], state->symbolCodes[kImplodeEndSymbol]);
  if (state->outBits != 0) state->outBytes += 1;
  std::uint32_t size = state->outBytes;
  writeOutput(state->outBuffer, &size, userValue);
  return kImplodeOk;
}

std::int32_t ImplodeBuffer(std::uint8_t* output, std::uint32_t outputCapacity, const std::uint8_t* input,
                           std::uint32_t inputLength) {
  MemoryTransfer transfer{input, inputLength, output, 0, outputCapacity, 0};
  // Left uninitialised: ImplodeStream clears what it needs.
  std::unique_ptr<ImplodeState> state(new (std::nothrow) ImplodeState);
  if (!state) return -1;
  ImplodeStream(ReadFromMemory, WriteToMemory, state.get(), &transfer, kLiteralBinary, 4096);
  if (transfer.overflow != 0 || transfer.destinationCount > 0x7FFFFFFFu) return -1;
  return static_cast<std::int32_t>(transfer.destinationCount);
}
