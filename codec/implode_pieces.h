// The implode encoder on several cores: the input is cut into chunks, each chunk is coded as a piece
// of its own (on any thread), and the pieces are joined into exactly the stream that ImplodeStream
// gives for the whole input. The threads belong to the caller (ImplodePieceRunner); this part only
// cuts, codes one piece per call, and joins.
//
// Why the join gives the same bytes. ImplodeStream codes in passes: pass k reads the input's bytes
// 4096k to 4096k + 4095 and codes the token starts from where the previous pass's last token ended
// up to 4096(k + 1) - 516 (exclusive); so a token start t always lies in pass (t + 516) / 4096. The
// token written at t is fixed by the rules from:
//   - the input bytes from a dictionary before t to 516 bytes after t + 1 (the look-ahead), and
//     where t lies within its pass (no look-ahead at a pass's last position);
//   - in the first two passes, the lowest candidate, which follows from where the pass began
//     (PassFirst; with a 4096-byte dictionary the second pass's lies within the dictionary); from
//     the third pass on it lies below every dictionary and decides nothing;
//   - in the last pass K only (the pass whose block is short or empty): comparisons that run past
//     the data read the window's older bytes (the previous block, which follows from the input), the
//     sorted entries (sorted from where pass K began) and the first sorted entry that pass K - 1
//     left (computed from where pass K - 1 began).
// Nothing else: the search index, the two-byte lookup and the output staging only find or hold what
// these fix. So two codings of the same input that both have a token start x write the same tokens
// from x on, provided that x lies in pass 2 or later and in pass K - 2 or earlier, or both codings
// began the passes that x and the ones after it lie in at the same positions. (A coding that starts at x itself must be told where x's pass and the one
// before it began, ImplodePiece::passStart and previousPassStart; a piece that guesses them codes
// right from the third pass on, except in the last two.)
//
// The pieces. Chunk j begins at byte S(j) = j * chunk. Its piece starts coding at S(j) - 516 (the
// earliest a pass can begin), with the bytes before it as history, and runs on past the next chunk's
// start by `runOn` bytes; it notes the bit length of the token at every token start. Piece j and
// piece j + 1 both code the stretch where they overlap. Piece 0 is the true coding from the start.
// By induction, if piece j is true from some token start on, the first token start x that it shares
// with piece j + 1 (within the limit above) makes piece j + 1 true from x on: the stream is piece
// j's bits up to x, then piece j + 1's bits from x. Parses of real data meet within a few tokens.
//
// When they do not meet within the run-on (a long run of one byte or another period across the
// edge, or adversarial data), the true coding is known up to its last token start z in the run-on;
// the joiner then codes on from z itself on the calling thread, told the true pass starts, until a
// token start of piece j + 1 is met (or the piece's end, and so on with the next piece). Inside a
// run of one byte the true tokens follow without coding: when every byte from a dictionary before t
// to 516 after t is that byte, every candidate from the dictionary's start matches 516 bytes and the
// farthest wins, so the token is 516 bytes at distance dictionary - 1 and the next one starts 516 on;
// the joiner writes those tokens outright and codes only where the run ends.
//
// Every piece's stream is the same bits as the whole coding's between the same token starts, so the
// parallel stream is the single-threaded one byte for byte for every chunk size, run-on and number
// of threads (tests/codec/implode_pieces_test.cpp and fuzz/implode_pieces_fuzzer.cpp check it).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/implode.h"

// One piece: a stretch of the input coded from a given token start to a given stop.
struct ImplodePiece {
  std::uint32_t literalMode = kLiteralBinary;
  std::uint32_t dictionarySize = 4096;
  // The input bytes from stream offset inputOffset on; inputEnds when they run to the input's end.
  // They must reach back to the pass before the start's pass (4096 * pass - 8708, or the input's
  // start) and, unless inputEnds, on to the block after the stop's pass (PieceInputEnd).
  const std::uint8_t* input = nullptr;
  std::uint64_t inputOffset = 0;
  std::uint64_t inputLength = 0;
  bool inputEnds = false;
  // Coding starts at `start`, in the pass that began at passStart, after one that began at
  // previousPassStart; it stops at the first token start at or past `stop`, or earlier at the
  // first token start from syncFrom to syncBefore (exclusive, within syncWith's stretch) that
  // `syncWith` (a coded piece) also has.
  std::uint64_t start = 0;
  std::uint64_t passStart = 0;
  std::uint64_t previousPassStart = 0;
  std::uint64_t stop = 0;
  const ImplodePiece* syncWith = nullptr;
  std::uint64_t syncFrom = 0;
  std::uint64_t syncBefore = 0;

  // Filled in by ImplodeCodePiece: where coding stopped (a token start, or the input's end), whether
  // it stopped at a token start of syncWith, the tokens' bits (first bit in bit 0, followed by at
  // least 8 zero bytes), and per position from `start` the bit length of the token that starts there,
  // or 0 where none does.
  ImplodeResult result = kImplodeOk;
  std::uint64_t end = 0;
  bool synced = false;
  std::vector<std::uint8_t> bits;
  std::uint64_t bitCount = 0;
  std::vector<std::uint8_t> tokenBits;
};

// How far a piece that does not reach the input's end needs its input to run: to the end of the
// block after the last pass it can code, one block more so that no position it codes lies in the
// input's last two passes.
std::uint64_t PieceInputEnd(std::uint64_t stop);

// Codes one piece on the caller's state (which may hold anything). Safe to call on several threads
// at once, each with its own piece and state. Sets piece.result: the settings' result, or
// kImplodePieceInput when the input does not cover what the piece needs, or kImplodeNoMemory.
void ImplodeCodePiece(ImplodePiece& piece, ImplodeState* state);

// The bits of a match token (`length` 2 to 518, `distance` in reach) or, for length 519, of the end
// code, as the encoder writes them (first bit in bit 0); returns their count. Match codes do not
// depend on the literal mode.
std::uint32_t ImplodeTokenCode(std::uint32_t dictionarySize, std::uint32_t length, std::uint32_t distance,
                               std::uint64_t* code);

// Codes pieces for ImplodeInPieces, on whatever threads it likes.
class ImplodePieceRunner {
 public:
  // Codes `piece` (ImplodeCodePiece on a state of the runner's own), now or on another thread.
  virtual void Start(ImplodePiece& piece) = 0;
  // Returns once `piece`, started earlier, is coded.
  virtual void Wait(ImplodePiece& piece) = 0;

 protected:
  ~ImplodePieceRunner() = default;
};

// A runner that codes each piece at once on the calling thread: one core, the same stream.
class ImplodePiecesInTurn final : public ImplodePieceRunner {
 public:
  void Start(ImplodePiece& piece) override;
  void Wait(ImplodePiece&) override {}

 private:
  std::unique_ptr<ImplodeState> state_;
};

struct ImplodePieceLimits {
  std::uint32_t chunk = 1u << 20;  // bytes per chunk, a multiple of 4096
  std::uint32_t runOn = 16384;     // how far a piece codes on into the next chunk
  std::uint32_t inFlight = 4;      // pieces started and not yet joined, at most
};

// The same stream as ImplodeStream for the same input and settings, coded in pieces through
// `runner`. Reads as ImplodeStream does (any delivery sizes); writes the stream in pieces of any
// size. Memory: about (inFlight + 4) x (chunk + runOn) x 3.2 bytes, whatever the input's length
// (the pieces in flight, those being filled, and the two the joiner holds).
// Returns the settings' result before reading or writing anything, kImplodeBadPieceLimits for a
// chunk that is no multiple of 4096 or no piece in flight, or kImplodeNoMemory (the stream is then
// incomplete).
ImplodeResult ImplodeInPieces(CodecRead readInput, CodecWrite writeOutput, void* userValue, std::uint32_t literalMode,
                              std::uint32_t dictionarySize, const ImplodePieceLimits& limits,
                              ImplodePieceRunner& runner);
