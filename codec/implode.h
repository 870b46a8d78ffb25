// The implode-stream encoder: ImplodeStream codes everything a read callback delivers into one
// stream for a write callback, keeping all of its working data in one ImplodeState; ImplodeBuffer
// is the memory-to-memory call for data already in memory (tests and tools; the builder streams).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/implode_format.h"

enum ImplodeResult : std::uint32_t {
  kImplodeOk = 0,
  kImplodeBadDictionary = 1,   // dictionary size not 1024, 2048 or 4096
  kImplodeBadLiteralMode = 2,  // literal mode neither 0 nor 1
  kImplodeNoMemory = 3,        // coding in pieces: a buffer cannot be allocated
  kImplodePieceInput = 4,      // coding in pieces: a piece's input does not cover what it codes
  kImplodeBadPieceLimits = 5,  // coding in pieces: a chunk that is no multiple of 4096, or none in flight
};

// Input arrives in blocks of this size; one pass codes one block.
constexpr std::uint32_t kImplodeBlock = 4096;
// The longest match the encoder writes (the format allows 518).
constexpr std::uint32_t kImplodeMaxMatch = 516;
// Two blocks and the reserve a last match may run into, whatever the dictionary size.
constexpr std::uint32_t kImplodeWindowSize = 2 * kImplodeBlock + kImplodeMaxMatch;
// Token heads: 256 literals, then match lengths 2 to 519 (519 being the end code).
constexpr std::uint32_t kImplodeSymbolCount = 256 + kMaxMatchLength;
constexpr std::uint32_t kImplodeEndSymbol = kImplodeSymbolCount - 1;
// Pair hash 4 * first byte + 5 * second byte runs from 0 to 2295.
constexpr std::uint32_t kPairHashBuckets = 2304;
// Output leaves in pieces of this size; the staging buffer has room for two bytes being filled.
constexpr std::uint32_t kImplodeOutputPiece = 2048;
// Where sortedPositions begins inside ImplodeState::window.
constexpr std::uint32_t kSortedPositionsOffset = kImplodeWindowSize;
// The search index: for each of two prefix lengths (3 and 4 bytes), chains that link every position
// to the next lower one whose prefix of that length has the same hash. (A third level for 8-byte
// prefixes shortened the searches for long matches less than it cost to keep for every position.)
constexpr std::uint32_t kSearchLevels = 2;
// Hash bits per level. Every search starts on the 3-byte level, where fewer collisions pay; the
// 4-byte level does better with fewer heads, which every block slides and every file clears.
constexpr std::uint32_t kMaxChainHashBits = 13;
constexpr std::uint32_t kChainHashBits[kSearchLevels] = {kMaxChainHashBits, 12};
constexpr std::uint32_t kMaxChainHashSize = 1u << kMaxChainHashBits;
constexpr std::uint32_t ChainHashSize(std::uint32_t level) { return 1u << kChainHashBits[level]; }
// Runs of one byte at least this long are listed (see ImplodeState::runs); a search whose first four
// bytes are one byte finds all its candidates of four bytes or more in them.
constexpr std::uint32_t kListedRunLength = 4;
// Listed runs do not overlap, and lie among the positions added (the last one below the window's
// end) and the 3 bytes their hashes read, each kListedRunLength positions or more (runs of different
// bytes may touch): so this many fit every window.
constexpr std::uint32_t kMaxListedRuns = (kImplodeWindowSize + 3) / kListedRunLength + 1;
static_assert(kMaxListedRuns < 0xFFFF, "run indexes + 1 must fit 16 bits");

// A run of one byte: window positions start to end (exclusive), the previous listed run of the same
// byte (its index + 1, 0 for none); and once the run is known to have ended, the byte after it and
// the previous run whose byte and byte after are those of this one, or share their hash.
struct ByteRun {
  std::uint16_t start;
  std::uint16_t end;
  std::uint16_t byte;
  std::uint16_t sameBefore;
  std::uint16_t after;
  std::uint16_t sameEnding;
};
// Hash buckets of the runs by byte and byte after.
constexpr std::uint32_t kRunEndingBuckets = 1024;

// The encoder's whole working state, one per call. ImplodeStream sets it up itself, clearing what
// the coding depends on (the window with the sorted positions, the chain heads and the two-byte
// lookup); a new record need not be cleared, and a used one may be used again.
//
// The window is followed directly by the sorted positions (16-bit, least significant byte first),
// and both live in the one byte array `window`: near the end of the input a match comparison may
// read up to 515 bytes past the data, into the sorted positions, and those bytes influence which of
// two equal candidates wins. Keeping them in one array makes that read well defined and the output
// the same on every host.
struct ImplodeState {
  std::uint32_t matchDistance;   // distance - 1 of the last match found
  std::uint32_t outBytes;        // complete bytes in outBuffer
  std::uint32_t outBits;         // bits used in the byte being filled
  std::uint32_t distanceBits;    // 4, 5 or 6
  std::uint32_t distanceMask;    // 2^distanceBits - 1
  std::uint32_t literalMode;
  std::uint32_t dictionarySize;  // 1024, 2048 or 4096
  std::uint8_t distanceCodeBits[kDistanceCodeCount];
  std::uint8_t distanceCodeValues[kDistanceCodeCount];
  std::uint8_t symbolBits[kImplodeSymbolCount];    // bit count of each token head
  std::uint16_t symbolCodes[kImplodeSymbolCount];  // each token head, flag bit included
  void* userValue;
  CodecRead readInput;
  CodecWrite writeOutput;
  std::uint16_t bucketStart[kPairHashBuckets];
  std::uint8_t outBuffer[kImplodeOutputPiece + 2];
  std::uint8_t window[kImplodeWindowSize + 2 * kImplodeWindowSize];  // window, then sortedPositions
  // The search index. It only speeds up finding what the candidate rules fix and never changes a
  // result. Each position is added once, when its block arrives, and moves with the window; 0
  // stands for "none", which no search can reach.
  std::uint32_t indexedUpTo;                                        // next position to add
  std::uint16_t chainPrevious[kSearchLevels][kImplodeWindowSize];  // per level and position
  std::uint16_t chainLast[kSearchLevels][kMaxChainHashSize];       // per level and hash: highest position
  // The longest level's links taken twice (the link of a position's link), so that a walk down its
  // chain follows two loads side by side instead of one after the other. Position 0's links are 0,
  // so that "none" leads to "none".
  std::uint16_t chainSkip[kImplodeWindowSize];
  // The runs of kListedRunLength bytes or more among the added positions and the bytes their hashes
  // read, in window order, listed and lengthened as positions are added. A run whose positions start
  // below the first one added, or below position 1 after the window moves, starts there (no search
  // reaches further). The runs of each byte are linked from the latest down. A search at p for a
  // byte starts at the latest run of that byte among the first listedBelow, which start below the
  // last position searched (searches move up through a pass). Indexes are stored + 1, 0 for none.
  std::uint32_t listedRuns;
  std::uint32_t listedBelow;
  std::uint16_t latestRunOf[256];  // per byte, among all listed runs
  std::uint16_t latestRunBelowOf[256];  // per byte, among the first listedBelow
  // The runs that end at or below the last position searched are linked by how they end, the first
  // endedRuns of them (a search only looks at those: runs end in order).
  std::uint32_t endedRuns;
  std::uint16_t latestRunEnding[kRunEndingBuckets];
  ByteRun runs[kMaxListedRuns];
  // Scratch for finding the farthest of several 516-byte matches: the 4-byte chain below the nearest
  // one, down to the lowest position in reach (fewer positions than the dictionary holds), so that
  // it can be tested from the far end.
  std::uint16_t farthestCandidates[kImplodeBlock];
  // Two-byte repetitions: per pair the latest position added that starts with it, as a stream offset
  // modulo 256 (a two-byte match reaches 256 back at most), and per position added how far back
  // the previous one with its pair lies, modulo 256. Neither changes when the window moves.
  std::uint32_t windowOffset;  // stream offset of window position 0, modulo 2^32
  std::uint8_t pairBack[kImplodeWindowSize];
  std::uint8_t pairLatest[1u << 16];
};

// Codes the whole input into one stream. `state` may hold anything: the output is the one the coding
// rules fix either way. The read callback is asked for the
// room left in the current 4096-byte block until the block is full or it returns 0; how it splits
// its deliveries does not change the stream. The write callback receives 2048-byte pieces and a
// final piece of 0 to 2048 bytes. Returns 1 or 2 for bad settings before reading or writing
// anything, else 0. Allocates nothing.
ImplodeResult ImplodeStream(CodecRead readInput, CodecWrite writeOutput, ImplodeState* state, void* userValue,
                            std::uint32_t literalMode, std::uint32_t dictionarySize);

// Compresses `inputLength` bytes at `input` into `output` (binary literals, 4096-byte dictionary,
// as every package segment). Returns the stream's length, or -1 when the state cannot be allocated
// or the stream is longer than `outputCapacity` (`output` then holds an incomplete stream). A stream
// is at most 4 + ceil(9 * inputLength / 8) bytes. Reentrant: nothing is shared.
std::int32_t ImplodeBuffer(std::uint8_t* output, std::uint32_t outputCapacity, const std::uint8_t* input,
                           std::uint32_t inputLength);
