// The implode-stream decoder: ExplodeStream pulls a stream through a read callback and pushes the
// decoded bytes through a write callback, keeping all of its working data in one ExplodeState;
// ExplodeBuffer is the memory-to-memory call for streams already in memory (tests and tools;
// package reading streams).
#pragma once

#include <cstdint>

#include "codec/implode_format.h"

enum ExplodeResult : std::uint32_t {
  kExplodeOk = 0,                 // decoded up to the end code
  kExplodeBadDictionary = 1,      // header byte 1 is not 4, 5 or 6
  kExplodeBadLiteralMode = 2,     // header byte 0 is neither 0 nor 1
  kExplodeInputTooShort = 3,      // the first read delivered 4 bytes or fewer
  kExplodeInputEnded = 4,         // the input ended before the end code
};

// Window geometry: 4096 bytes of history (the farthest a distance reaches), then a batch of chunks
// being produced, which leave together so that the history moves once per batch, not once per chunk.
// Past the batch there is room for what the last tokens before the limit may carry the output on:
// the decoder checks the limit every two rounds of up to two literals and a longest match.
constexpr std::uint32_t kExplodeHistory = 4096;
constexpr std::uint32_t kExplodeChunk = 4096;
constexpr std::uint32_t kExplodeBatch = 8 * kExplodeChunk;
constexpr std::uint32_t kExplodeOvershoot = 2 * (2 + kMaxMatchLength) - 1;
constexpr std::uint32_t kExplodeWindowSize = kExplodeHistory + kExplodeBatch + kExplodeOvershoot;
// Match copies move 8 or 16 bytes at a time and may write up to this many bytes past the match.
constexpr std::uint32_t kExplodeCopySlack = 16;
constexpr std::uint32_t kExplodeInputSize = 2048;
// Room in front of the read buffer for the bytes of the previous read that are not used yet.
constexpr std::uint32_t kExplodeInputCarry = 64;

// The decoder's whole working state, one per decoding. The caller provides it with the history part
// of the window zero (window[0] to window[kExplodeHistory - 1]), so distances reaching before the
// first decoded byte copy zeros; nothing else needs clearing. The code tables are shared, read-only
// and built once per process.
struct ExplodeState {
  std::uint32_t literalMode;      // header byte 0
  std::uint32_t outputPosition;   // window index of the next decoded byte
  std::uint32_t dictionaryBits;   // header byte 1
  std::uint32_t dictionaryMask;   // 2^dictionaryBits - 1
  std::uint64_t bitBuffer;        // unread stream bits, the next one in bit 0
  std::uint32_t bitCount;         // valid bits in bitBuffer; at least 8 between tokens (the look-ahead)
  std::uint32_t inputPosition;    // next unread byte of the input
  std::uint32_t inputCount;       // bytes of the input
  void* parameter;
  CodecRead read;
  CodecWrite write;
  std::uint8_t window[kExplodeWindowSize + kExplodeCopySlack];
  // Reads land at input + kExplodeInputCarry. The decoder asks for the next read while a few bytes
  // of the last one are still to be used, and moves those in front of it, so that its fast loops,
  // which need some bytes at hand, run on from one read into the next.
  std::uint8_t input[kExplodeInputCarry + kExplodeInputSize];
};

// Decodes one stream. `state` must have a zero history (a zero-filled record has); `parameter` goes
// unchanged to every callback call. Reads ask for up to 2048 bytes at a time (the next one while up
// to 31 bytes of the last are still to be decoded) and stop after one that delivers 0; writes hand over chunks
// of exactly 4096 bytes (several in a row, once per batch) and, once decoding stops (also after
// result 4), one final chunk of 0 to 4095 bytes. Results 1, 2 and 3 come back before any write.
// Allocates nothing.
ExplodeResult ExplodeStream(CodecRead read, CodecWrite write, ExplodeState* state, void* parameter);

// Decodes the stream of `sourceLength` bytes at `source` into `destination`, which takes at most
// `capacity` bytes. Returns the decoded length, or -1 when the state cannot be allocated, the
// stream is bad or the output does not fit; the bytes decoded before a bad stream ended are in
// `destination` all the same. Bytes past the decoded length, up to the capacity, may be overwritten
// (the decoder works in the destination when it has room). `result` (may be null) receives the
// decoder's result, so that a caller with a user in front of it can show a bad stream's number.
// Reentrant: nothing is shared.
std::int32_t ExplodeBuffer(std::uint8_t* destination, std::uint32_t capacity, const std::uint8_t* source,
                           std::uint32_t sourceLength, ExplodeResult* result = nullptr);

// Makes every decoder run the build of its inner loop for the processors that the program targets
// (true), even where the processor offers the instructions of a faster build, or lets each pick by
// the processor again (false, the default). For tests, which must check both builds on one machine.
void ExplodeUseBaselineCode(bool baseline);

// The two kinds of the decoder's inner loop for binary streams: one for 64-bit registers, one for
// 32-bit registers, which would hold the other's bit buffer in two. Each host runs the kind for its
// word size (kHost, the default); tests make every decoder run either kind, so that both are
// checked on one machine.
enum class ExplodeLoop { kHost, kWide, kNarrow };
void ExplodeUseLoop(ExplodeLoop loop);
