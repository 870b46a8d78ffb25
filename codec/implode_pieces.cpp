// Cutting the input into pieces, and joining the coded pieces into ImplodeStream's stream (why the
// join gives the same bytes is set out in implode_pieces.h).
#include "codec/implode_pieces.h"

#include <cstring>
#include <deque>
#include <new>
#include <utility>

namespace {

// A piece's input begins this far before its chunk: SetUpPass reads the window of the pass before
// the start's pass, from 4096 + 4612 bytes before the start's block, and a piece that starts in the
// input's last pass (where the chunk begins within its last 516 bytes) starts in the block before
// its chunk.
constexpr std::uint64_t kPieceHistory = 4 * kImplodeBlock;
// Where the third pass's token starts begin: the second pass's end.
constexpr std::uint64_t kThirdPassStart = 2 * kImplodeBlock - kImplodeMaxMatch;
// The input is taken from the read callback this much at a time.
constexpr std::uint32_t kReadStep = 1u << 16;

std::uint64_t Min(std::uint64_t a, std::uint64_t b) { return a < b ? a : b; }

// The stream's bits in order, handed to the write callback in pieces of kOutputStep bytes. Bits
// past bitCount_ in the byte being filled are zero.
class BitSink {
 public:
  BitSink(CodecWrite write, void* userValue) : write_(write), userValue_(userValue) {}

  // Appends the low `count` bits of `value` (count at most 56).
  void Put(std::uint64_t value, std::uint32_t count) {
    std::uint8_t* byte = bytes_ + bitCount_ / 8;
    value = (value << (bitCount_ % 8)) | *byte;
    for (std::uint32_t i = 0; i < 8; ++i) byte[i] = static_cast<std::uint8_t>(value >> (8 * i));
    bitCount_ += count;
    if (bitCount_ >= 8 * kOutputStep) Hand();
  }

  // Appends bits `from` to `to` (exclusive) of `bytes`, which holds at least 8 bytes past bit `to`:
  // whole bytes at a time, each from two source bytes.
  void Append(const std::uint8_t* bytes, std::uint64_t from, std::uint64_t to) {
    if (bitCount_ % 8 != 0 && from < to) {
      const auto count = static_cast<std::uint32_t>(Min(to - from, 8 - bitCount_ % 8));
      Put(Bits(bytes, from) & ((1u << count) - 1), count);
      from += count;
    }
    while (to - from >= 8) {
      std::uint8_t* out = bytes_ + bitCount_ / 8;
      const std::uint64_t count = Min((to - from) / 8, kOutputStep - bitCount_ / 8);
      const std::uint8_t* in = bytes + from / 8;
      const std::uint32_t shift = from % 8;
      if (shift == 0) {
        std::memcpy(out, in, count);
      } else {
        // Eight bytes at a time from nine (the source holds 8 bytes past its last bit), then the rest.
        std::uint64_t i = 0;
        for (; i + 8 <= count; i += 8) {
          std::uint64_t word;
          std::memcpy(&word, in + i, sizeof word);
          word = (word >> shift) | (std::uint64_t{in[i + 8]} << (64 - shift));
          std::memcpy(out + i, &word, sizeof word);
        }
        for (; i < count; ++i) out[i] = static_cast<std::uint8_t>((in[i] >> shift) | (in[i + 1] << (8 - shift)));
      }
      out[count] = 0;
      from += 8 * count;
      bitCount_ += 8 * count;
      if (bitCount_ >= 8 * kOutputStep) Hand();
    }
    if (from < to) {
      const auto count = static_cast<std::uint32_t>(to - from);
      Put(Bits(bytes, from) & ((1u << count) - 1), count);
    }
  }

  // Writes what is left, the last byte filled up with zeros.
  void Finish() {
    std::uint32_t size = (bitCount_ + 7) / 8;
    write_(bytes_, &size, userValue_);
  }

 private:
  static constexpr std::uint32_t kOutputStep = 1u << 16;

  // The 8 bits of `bytes` from bit `from` on.
  static std::uint32_t Bits(const std::uint8_t* bytes, std::uint64_t from) {
    return ((bytes[from / 8] | (bytes[from / 8 + 1] << 8)) >> (from % 8)) & 0xFF;
  }

  // Writes the whole bytes and keeps the byte being filled, and what Put spilled past it, in front.
  void Hand() {
    std::uint32_t size = kOutputStep;
    write_(bytes_, &size, userValue_);
    std::memmove(bytes_, bytes_ + kOutputStep, 8);
    std::memset(bytes_ + 8, 0, 8);
    bitCount_ -= 8 * kOutputStep;
  }

  CodecWrite write_;
  void* userValue_;
  std::uint32_t bitCount_ = 0;
  std::uint8_t bytes_[kOutputStep + 16] = {};
};

// A piece with its input, as the driver keeps it.
struct Slot {
  ImplodePiece piece;
  std::vector<std::uint8_t> input;
  std::uint64_t wanted = 0;   // the stream offset its input must reach, unless the input ends first
  bool started = false;
  // Between these a join into the piece is sound (see implode_pieces.h); set once it is coded.
  std::uint64_t joinFrom = 0;
  std::uint64_t joinBefore = 0;
  // The joiner's place in its tokens: the bit offset of the token start `cursor`.
  std::uint64_t cursor = 0;
  std::uint64_t cursorBit = 0;
};

class PieceDriver {
 public:
  PieceDriver(CodecWrite write, void* userValue, std::uint32_t literalMode, std::uint32_t dictionarySize,
              const ImplodePieceLimits& limits, ImplodePieceRunner& runner)
      : sink_(write, userValue),
        literalMode_(literalMode),
        dictionarySize_(dictionarySize),
        limits_(limits),
        runner_(runner) {}

  ImplodeResult Run(CodecRead read, void* userValue);
  // Waits for the pieces started and not joined.
  void Settle() {
    for (const std::unique_ptr<Slot>& slot : pending_) {
      if (slot->started) runner_.Wait(slot->piece);
    }
  }

 private:
  std::uint64_t ChunkStart(std::uint64_t index) const { return index * limits_.chunk; }
  std::uint64_t InputStart(std::uint64_t index) const {
    const std::uint64_t start = ChunkStart(index);
    return start > kPieceHistory ? start - kPieceHistory : 0;
  }
  // The pass that codes token start t: the one whose range holds t, or the last (once the input's
  // length is known), which codes on to the end.
  std::uint64_t PassOf(std::uint64_t t) const { return Min((t + kImplodeMaxMatch) / kImplodeBlock, lastPass_); }

  std::unique_ptr<Slot> Spare();
  std::unique_ptr<Slot> NewSlot(std::uint64_t index);
  void Cut(std::uint64_t position);
  void Feed(const std::uint8_t* bytes, std::uint32_t count);
  ImplodeResult StartFilled(bool ended);
  ImplodeResult JoinOldest();
  ImplodeResult Join(std::unique_ptr<Slot> next);

  std::uint64_t BitAt(Slot& slot, std::uint64_t position);
  void Emit(Slot& slot, std::uint64_t to);
  void NotePassStart(std::uint64_t pass, std::uint64_t start);
  void NotePassStarts(const Slot& slot, std::uint64_t from, std::uint64_t to);
  std::uint64_t PassStart(std::uint64_t pass) const;
  void RunThrough(const Slot& slot);
  ImplodeResult Follow(Slot& slot);

  BitSink sink_;
  std::uint32_t literalMode_;
  std::uint32_t dictionarySize_;
  ImplodePieceLimits limits_;
  ImplodePieceRunner& runner_;

  std::deque<std::unique_ptr<Slot>> pending_;  // cut and not yet joined, in order
  std::vector<std::unique_ptr<Slot>> spare_;   // to be used again
  std::uint64_t nextIndex_ = 0;                // the next chunk to cut
  std::uint64_t position_ = 0;                 // input bytes read so far
  std::uint64_t inFlight_ = 0;                 // pieces started and not yet joined
  std::uint64_t inputEnd_ = UINT64_MAX;        // the input's length, once known
  std::uint64_t lastPass_ = UINT64_MAX;

  // The join so far: the stream up to token start truth_ is written; `holder_`, when there is one,
  // is a piece whose tokens from truth_ on are the stream's up to its end.
  std::uint64_t truth_ = 0;
  std::unique_ptr<Slot> holder_;
  std::unique_ptr<ImplodeState> followState_;
  // Where the last two passes reached so far began, [1] the later one.
  std::uint64_t passes_[2][2] = {{0, 0}, {0, 0}};  // {pass, start}
};

// A slot to fill, one used before when there is one (its buffers keep their room).
std::unique_ptr<Slot> PieceDriver::Spare() {
  if (spare_.empty()) return std::make_unique<Slot>();
  std::unique_ptr<Slot> slot = std::move(spare_.back());
  spare_.pop_back();
  return slot;
}

std::unique_ptr<Slot> PieceDriver::NewSlot(std::uint64_t index) {
  std::unique_ptr<Slot> slot = Spare();
  ImplodePiece& piece = slot->piece;
  piece.literalMode = literalMode_;
  piece.dictionarySize = dictionarySize_;
  piece.inputOffset = InputStart(index);
  piece.inputEnds = false;
  piece.syncWith = nullptr;
  piece.syncFrom = 0;
  piece.syncBefore = 0;
  // Piece 0 is the true coding. Every other one starts where its chunk's pass can begin at the
  // earliest, and guesses that its pass and the one before began there.
  piece.start = index == 0 ? 0 : ChunkStart(index) - kImplodeMaxMatch;
  piece.passStart = piece.start;
  piece.previousPassStart = piece.start > kImplodeBlock ? piece.start - kImplodeBlock : 0;
  piece.stop = ChunkStart(index + 1) - kImplodeMaxMatch + limits_.runOn;
  slot->wanted = PieceInputEnd(piece.stop);
  slot->input.clear();
  slot->input.reserve(slot->wanted - piece.inputOffset);
  slot->started = false;
  return slot;
}

// Cuts the chunks whose pieces' input begins at or before `position`.
void PieceDriver::Cut(std::uint64_t position) {
  while (InputStart(nextIndex_) <= position) pending_.push_back(NewSlot(nextIndex_++));
}

// Hands the input bytes at position_ to every piece whose input holds them.
void PieceDriver::Feed(const std::uint8_t* bytes, std::uint32_t count) {
  for (const std::unique_ptr<Slot>& slot : pending_) {
    if (slot->started) continue;
    const std::uint64_t from = slot->piece.inputOffset + slot->input.size();
    if (from >= position_ + count || from < position_ || from >= slot->wanted) continue;
    const std::uint64_t to = Min(position_ + count, slot->wanted);
    slot->input.insert(slot->input.end(), bytes + (from - position_), bytes + (to - position_));
  }
  position_ += count;
}

// Starts the pieces whose input is complete, in order: all of them once the input has ended.
ImplodeResult PieceDriver::StartFilled(bool ended) {
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    Slot* slot = pending_[i].get();
    if (slot->started) continue;
    ImplodePiece& piece = slot->piece;
    if (ended) {
      piece.inputEnds = piece.inputOffset + slot->input.size() < slot->wanted;
      if (piece.inputEnds) piece.stop = Min(piece.stop, inputEnd_);
    } else if (piece.inputOffset + slot->input.size() < slot->wanted) {
      break;
    }
    piece.input = slot->input.data();
    piece.inputLength = slot->input.size();
    while (inFlight_ >= limits_.inFlight) {
      // The oldest pending piece was started before this one: joining it moves this one down.
      const ImplodeResult result = JoinOldest();
      if (result != kImplodeOk) return result;
      --i;
    }
    slot->started = true;
    ++inFlight_;
    runner_.Start(piece);
  }
  return kImplodeOk;
}

ImplodeResult PieceDriver::JoinOldest() {
  std::unique_ptr<Slot> slot = std::move(pending_.front());
  pending_.pop_front();
  runner_.Wait(slot->piece);
  --inFlight_;
  return Join(std::move(slot));
}

// The bits of the piece's tokens that start from `from` to `to` (exclusive).
std::uint64_t TokenBitsBetween(const ImplodePiece& piece, std::uint64_t from, std::uint64_t to) {
  const std::uint8_t* lengths = piece.tokenBits.data() + (from - piece.start);
  std::uint64_t sum = 0;
  for (std::uint64_t done = 0; done < to - from;) {
    // In 32 bits (which the compiler adds in wide steps) a megabyte at a time.
    const std::uint64_t count = Min(to - from - done, 1u << 20);
    std::uint32_t part = 0;
    for (std::uint64_t i = 0; i < count; ++i) part += lengths[done + i];
    sum += part;
    done += count;
  }
  return sum;
}

// The bit offset in the slot's piece of its token start `position`, at or past the slot's cursor:
// summed on from the cursor, or back from the piece's end, whichever is nearer (a join lies near
// the start of one piece and the end of the other).
std::uint64_t PieceDriver::BitAt(Slot& slot, std::uint64_t position) {
  const ImplodePiece& piece = slot.piece;
  if (position - slot.cursor <= piece.end - position) {
    slot.cursorBit += TokenBitsBetween(piece, slot.cursor, position);
  } else {
    slot.cursorBit = piece.bitCount - TokenBitsBetween(piece, position, piece.end);
  }
  slot.cursor = position;
  return slot.cursorBit;
}

// Writes the slot's tokens from truth_ to the token start `to`.
void PieceDriver::Emit(Slot& slot, std::uint64_t to) {
  NotePassStarts(slot, truth_, to);
  const std::uint64_t from = BitAt(slot, truth_);
  sink_.Append(slot.piece.bits.data(), from, BitAt(slot, to));
  truth_ = to;
}

void PieceDriver::NotePassStart(std::uint64_t pass, std::uint64_t start) {
  if (pass <= passes_[1][0]) return;
  passes_[0][0] = passes_[1][0];
  passes_[0][1] = passes_[1][1];
  passes_[1][0] = pass;
  passes_[1][1] = start;
}

// Notes where the last two passes begun among the stream's token starts from `from` to `to` (the
// slot's, and `to`) began: at the first token start at or past the previous pass's end.
void PieceDriver::NotePassStarts(const Slot& slot, std::uint64_t from, std::uint64_t to) {
  const std::uint64_t last = PassOf(to);
  for (std::uint64_t pass = last > 0 ? last - 1 : 0; pass <= last; ++pass) {
    const std::uint64_t previousEnd = pass * kImplodeBlock - kImplodeMaxMatch;
    if (pass == 0 || previousEnd <= from) continue;
    std::uint64_t start = previousEnd;
    while (start < to && slot.piece.tokenBits[start - slot.piece.start] == 0) ++start;
    NotePassStart(pass, start);
  }
}

std::uint64_t PieceDriver::PassStart(std::uint64_t pass) const {
  return passes_[1][0] == pass ? passes_[1][1] : passes_[0][1];
}

// Writes the stream on through a run of one byte from truth_ (see implode_pieces.h): 516-byte
// matches at distance dictionary - 1, as long as the run holds a dictionary before each and 516
// from it, within the slot's input.
void PieceDriver::RunThrough(const Slot& slot) {
  const std::uint64_t t = truth_;
  const ImplodePiece& piece = slot.piece;
  const std::uint64_t inputEnd = piece.inputOffset + piece.inputLength;
  if (PassOf(t) < 2 || t + 1 < piece.inputOffset + dictionarySize_ || t + kImplodeMaxMatch > inputEnd) return;
  const std::uint8_t* bytes = piece.input;
  const std::uint64_t base = piece.inputOffset;
  const std::uint8_t byte = bytes[t - base];
  std::uint64_t runEnd = t - dictionarySize_ + 1;
  const std::uint64_t pattern = byte * 0x0101010101010101ull;
  for (std::uint64_t word = 0; runEnd + 8 <= inputEnd; runEnd += 8) {
    std::memcpy(&word, bytes + (runEnd - base), sizeof word);
    if (word != pattern) break;
  }
  while (runEnd < inputEnd && bytes[runEnd - base] == byte) ++runEnd;
  if (runEnd < t + kImplodeMaxMatch) return;
  const std::uint64_t tokens = (runEnd - t) / kImplodeMaxMatch;
  std::uint64_t code = 0;
  const std::uint32_t count = ImplodeTokenCode(dictionarySize_, kImplodeMaxMatch, dictionarySize_ - 1, &code);
  for (std::uint64_t i = 0; i < tokens; ++i) sink_.Put(code, count);
  truth_ = t + tokens * kImplodeMaxMatch;
  const std::uint64_t last = PassOf(truth_);
  for (std::uint64_t pass = last > 0 ? last - 1 : 0; pass <= last; ++pass) {
    const std::uint64_t previousEnd = pass * kImplodeBlock - kImplodeMaxMatch;
    if (pass == 0 || previousEnd <= t) continue;
    NotePassStart(pass, t + (previousEnd - t + kImplodeMaxMatch - 1) / kImplodeMaxMatch * kImplodeMaxMatch);
  }
}

// Codes on from truth_ through the slot's stretch on this thread, with the true pass starts, until
// a token start of the slot's piece: the new holder.
ImplodeResult PieceDriver::Follow(Slot& slot) {
  if (!followState_) {
    followState_.reset(new (std::nothrow) ImplodeState);
    if (!followState_) return kImplodeNoMemory;
  }
  std::unique_ptr<Slot> follow = Spare();
  ImplodePiece& piece = follow->piece;
  const ImplodePiece& guessed = slot.piece;
  piece.literalMode = literalMode_;
  piece.dictionarySize = dictionarySize_;
  piece.input = guessed.input;
  piece.inputOffset = guessed.inputOffset;
  piece.inputLength = guessed.inputLength;
  piece.inputEnds = guessed.inputEnds;
  piece.start = truth_;
  const std::uint64_t pass = PassOf(truth_);
  piece.passStart = PassStart(pass);
  piece.previousPassStart = pass > 0 ? PassStart(pass - 1) : 0;
  piece.stop = guessed.stop;
  piece.syncWith = &guessed;
  piece.syncFrom = slot.joinFrom;
  piece.syncBefore = slot.joinBefore;
  ImplodeCodePiece(piece, followState_.get());
  if (piece.result != kImplodeOk) return piece.result;
  follow->cursor = piece.start;
  follow->cursorBit = 0;
  if (holder_) spare_.push_back(std::move(holder_));
  holder_ = std::move(follow);
  return kImplodeOk;
}

ImplodeResult PieceDriver::Join(std::unique_ptr<Slot> next) {
  ImplodePiece& piece = next->piece;
  if (piece.result != kImplodeOk) return piece.result;
  next->cursor = piece.start;
  next->cursorBit = 0;
  if (piece.start == 0) {
    holder_ = std::move(next);
    return kImplodeOk;
  }
  // A join in the input's first two or last two passes would need to know where the piece's passes
  // began; a piece whose input does not reach the end codes none of the last two (PieceInputEnd).
  next->joinFrom = piece.start > kThirdPassStart ? piece.start : kThirdPassStart;
  next->joinBefore = piece.end;
  if (piece.inputEnds) {
    const std::uint64_t sound = lastPass_ >= 2 ? (lastPass_ - 1) * kImplodeBlock - kImplodeMaxMatch : 0;
    next->joinBefore = Min(next->joinBefore, sound);
  }
  for (;;) {
    if (holder_) {
      Slot& holder = *holder_;
      const std::uint64_t from = truth_ > next->joinFrom ? truth_ : next->joinFrom;
      const std::uint64_t to = Min(holder.piece.end, next->joinBefore);
      for (std::uint64_t x = from; x < to; ++x) {
        if (holder.piece.tokenBits[x - holder.piece.start] != 0 && piece.tokenBits[x - piece.start] != 0) {
          Emit(holder, x);
          spare_.push_back(std::move(holder_));
          holder_ = std::move(next);
          return kImplodeOk;
        }
      }
      if (holder.piece.synced) {
        // A follower that stopped at a token start of this piece.
        Emit(holder, holder.piece.end);
        spare_.push_back(std::move(holder_));
        holder_ = std::move(next);
        return kImplodeOk;
      }
      // The holder covers this piece's stretch: the next piece meets it, or not.
      if (holder.piece.end >= piece.stop) break;
      Emit(holder, holder.piece.end);
      spare_.push_back(std::move(holder_));
    }
    // The stream is known up to truth_ only, inside this piece's stretch.
    if (truth_ >= piece.stop) break;
    RunThrough(*next);
    if (truth_ >= piece.stop) break;
    const ImplodeResult result = Follow(*next);
    if (result != kImplodeOk) return result;
  }
  spare_.push_back(std::move(next));
  return kImplodeOk;
}

ImplodeResult PieceDriver::Run(CodecRead read, void* userValue) {
  sink_.Put(literalMode_, 8);
  sink_.Put(dictionarySize_ == 1024 ? 4 : dictionarySize_ == 2048 ? 5 : 6, 8);
  std::vector<std::uint8_t> step(kReadStep);
  bool ended = false;
  while (!ended) {
    Cut(position_);
    std::uint32_t got = 0;
    while (got < kReadStep) {
      std::uint32_t size = kReadStep - got;
      const std::uint32_t delivered = read(step.data() + got, &size, userValue);
      if (delivered == 0) {
        ended = true;
        break;
      }
      got += delivered < kReadStep - got ? delivered : kReadStep - got;
    }
    // A step may reach the input of pieces cut after it began.
    std::uint32_t fed = 0;
    while (fed < got) {
      Cut(position_);
      const std::uint64_t nextCut = InputStart(nextIndex_);
      const auto count = static_cast<std::uint32_t>(Min(got - fed, nextCut - position_));
      Feed(step.data() + fed, count);
      fed += count;
    }
    if (ended) {
      inputEnd_ = position_;
      lastPass_ = inputEnd_ / kImplodeBlock;
      // Chunks that begin at or past the end have nothing to code.
      while (!pending_.empty() && pending_.back()->piece.start != 0 && pending_.back()->piece.start >= inputEnd_) {
        spare_.push_back(std::move(pending_.back()));
        pending_.pop_back();
      }
    }
    const ImplodeResult result = StartFilled(ended);
    if (result != kImplodeOk) return result;
  }
  while (!pending_.empty()) {
    const ImplodeResult result = JoinOldest();
    if (result != kImplodeOk) return result;
  }
  if (holder_) Emit(*holder_, holder_->piece.end);
  std::uint64_t code = 0;
  const std::uint32_t count = ImplodeTokenCode(dictionarySize_, kMaxMatchLength + 1, 0, &code);
  sink_.Put(code, count);
  sink_.Finish();
  return kImplodeOk;
}

}  // namespace

void ImplodePiecesInTurn::Start(ImplodePiece& piece) {
  if (!state_) state_.reset(new (std::nothrow) ImplodeState);
  if (!state_) {
    piece.result = kImplodeNoMemory;
    return;
  }
  ImplodeCodePiece(piece, state_.get());
}

ImplodeResult ImplodeInPieces(CodecRead readInput, CodecWrite writeOutput, void* userValue, std::uint32_t literalMode,
                              std::uint32_t dictionarySize, const ImplodePieceLimits& limits,
                              ImplodePieceRunner& runner) {
  if (dictionarySize != 1024 && dictionarySize != 2048 && dictionarySize != 4096) return kImplodeBadDictionary;
  if (literalMode != kLiteralBinary && literalMode != kLiteralAscii) return kImplodeBadLiteralMode;
  if (limits.chunk == 0 || limits.chunk % kImplodeBlock != 0 || limits.inFlight == 0) return kImplodeBadPieceLimits;
  std::unique_ptr<PieceDriver> driver;
  ImplodeResult result = kImplodeNoMemory;
  try {
    driver = std::make_unique<PieceDriver>(writeOutput, userValue, literalMode, dictionarySize, limits, runner);
    result = driver->Run(readInput, userValue);
  } catch (const std::bad_alloc&) {
  }
  // A failed coding leaves pieces started: the runner may still write to them.
  if (driver) driver->Settle();
  return result;
}
