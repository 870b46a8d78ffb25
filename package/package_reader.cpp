// The streaming package reader: one buffer, one pass, markers found as the bytes go by.
#include "package/package_reader.h"

#include <cstring>
#include <new>

#include "codec/explode.h"

const char* DescribePackageFault(PackageFault fault) {
  switch (fault) {
    case PackageFault::None: return "no fault";
    case PackageFault::ReadFailed: return "the package cannot be read";
    case PackageFault::NoMarker: return "the package is damaged: a piece has no end marker";
    case PackageFault::ShortFileTime: return "the package is damaged: a file time is cut short";
    case PackageFault::BadSegment: return "the package is damaged: a piece does not decode";
    case PackageFault::WriteFailed: return "a decoded file cannot be written";
  }
  return "unknown fault";
}

PackageReader::PackageReader(PackageInput input, void* context, std::uint32_t start, std::uint32_t end)
    : input_(input),
      context_(context),
      remainingInput_(end > start ? end - start : 0),
      position_(start),
      buffer_(new std::uint8_t[kBufferSize]) {}

bool PackageReader::MarkerAt(std::uint32_t at) const {
  return std::memcmp(buffer_.get() + at, SegmentMarker, kMarkerSize) == 0;
}

namespace {

// The marker is '<', eleven 'i' and '>'. Any eight consecutive offsets hold exactly one multiple of
// 8, so for a marker starting at s the offset w, the multiple of 8 from s + 1 to s + 8, starts four
// of its 'i' bytes. The search reads one 4-byte word at every eighth offset of the buffer and tests
// the starts s from w - 8 to w - 1 only where that word is "iiii": a word load and a comparison per
// 8 bytes, none waiting for the one before. (It replaced a skip search that moved on by the byte
// under the marker's end, 13 bytes at most, each step waiting for the last: a tenth of a decoding
// pass; and before that a search for the marker's first byte, which Windows' C library makes a byte
// at a time.)
constexpr std::uint32_t kMarkerWordStep = 8;
static_assert(kMarkerSize == 13, "the marker is '<', eleven 'i' and '>'");

std::uint32_t MarkerWord() {
  std::uint32_t word;
  std::memcpy(&word, SegmentMarker + 1, sizeof word);
  return word;
}

}  // namespace

void PackageReader::ScanForMarker() {
  std::uint32_t from = markerScan_ > head_ ? markerScan_ : head_;
  // Only offsets with a whole marker's worth of bytes behind them can be decided now; the last 12
  // bytes wait for the next fill, so a marker cut by a buffer boundary is still found.
  if (tail_ - from < kMarkerSize) {
    markerScan_ = from;
    return;
  }
  const std::uint32_t lastStart = tail_ - kMarkerSize;
  const std::uint8_t* base = buffer_.get();
  const std::uint32_t wanted = MarkerWord();
  // Words from the multiple of 8 after `from` to the one that covers lastStart; the last one ends
  // two bytes before tail_.
  for (std::uint32_t w = (from / kMarkerWordStep + 1) * kMarkerWordStep; w <= lastStart + kMarkerWordStep;
       w += kMarkerWordStep) {
    std::uint32_t word;
    std::memcpy(&word, base + w, sizeof word);
    if (word != wanted) continue;
    const std::uint32_t last = w - 1 < lastStart ? w - 1 : lastStart;
    for (std::uint32_t s = w - kMarkerWordStep > from ? w - kMarkerWordStep : from; s <= last; ++s) {
      if (MarkerAt(s)) {
        markerAt_ = s;
        markerFound_ = true;
        markerScan_ = s;
        return;
      }
    }
  }
  markerScan_ = lastStart + 1;
}

bool PackageReader::Refill() {
  if (head_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + head_, tail_ - head_);
    tail_ -= head_;
    markerScan_ = markerScan_ > head_ ? markerScan_ - head_ : 0;
    if (markerFound_) markerAt_ -= head_;
    head_ = 0;
  }
  const std::uint32_t room = kBufferSize - tail_;
  const std::uint32_t wanted = room < remainingInput_ ? room : remainingInput_;
  if (wanted == 0) {
    inputEnded_ = true;
    return false;
  }
  std::uint32_t got = 0;
  if (!input_(context_, buffer_.get() + tail_, wanted, got)) {
    fault_ = PackageFault::ReadFailed;
    return false;
  }
  if (got == 0) {
    // The file is shorter than its length said a moment ago: treat it as ended here.
    inputEnded_ = true;
    return false;
  }
  if (got > wanted) got = wanted;
  tail_ += got;
  remainingInput_ -= got;
  return true;
}

std::uint32_t PackageReader::ReadToMarker(std::uint8_t* buffer, std::uint32_t size) {
  std::uint32_t copied = 0;
  while (copied < size && fault_ == PackageFault::None) {
    if (!markerFound_) ScanForMarker();
    const std::uint32_t limit = markerFound_ ? markerAt_ : inputEnded_ ? tail_ : markerScan_;
    if (head_ < limit) {
      std::uint32_t n = limit - head_;
      if (n > size - copied) n = size - copied;
      if (buffer != nullptr) std::memcpy(buffer + copied, buffer_.get() + head_, n);
      head_ += n;
      position_ += n;
      copied += n;
      continue;
    }
    if (markerFound_) break;
    if (inputEnded_) {
      fault_ = PackageFault::NoMarker;
      break;
    }
    Refill();
  }
  return copied;
}

PackageFault PackageReader::StepPastMarker() {
  // Callers arrive here only after ReadToMarker stopped without a fault, that is, at a marker.
  head_ += kMarkerSize;
  position_ += kMarkerSize;
  markerFound_ = false;
  markerScan_ = head_;
  return PackageFault::None;
}

PackageFault PackageReader::ReadFileTime(std::uint64_t& fileTime) {
  while (tail_ - head_ < kFileTimeSize) {
    if (!Refill()) {
      if (fault_ == PackageFault::None) fault_ = PackageFault::ShortFileTime;
      return fault_;
    }
  }
  const std::uint8_t* p = buffer_.get() + head_;
  fileTime = 0;
  for (std::uint32_t i = kFileTimeSize; i-- > 0;) fileTime = (fileTime << 8) | p[i];
  head_ += kFileTimeSize;
  position_ += kFileTimeSize;
  if (markerScan_ < head_) markerScan_ = head_;
  return PackageFault::None;
}

PackageFault PackageReader::CopyStub(PieceOutput output, void* outputContext) {
  std::uint8_t piece[4096];
  for (int marker = 0; marker < 2; ++marker) {
    for (;;) {
      const std::uint32_t n = ReadToMarker(piece, sizeof piece);
      if (n == 0) break;
      if (!output(outputContext, piece, n)) return fault_ = PackageFault::WriteFailed;
    }
    if (fault_ != PackageFault::None) return fault_;
    // The stub's own copy of the marker is part of its image; the second one ends it.
    if (marker == 0 && !output(outputContext, buffer_.get() + head_, kMarkerSize)) {
      return fault_ = PackageFault::WriteFailed;
    }
    StepPastMarker();
  }
  return PackageFault::None;
}

namespace {

// The decoder hands its output over 4096 bytes at a time; they are gathered here and passed on in
// pieces of kOutputSize bytes, so that a file is written in as many calls, each of which may cost a
// system call (under Wine, several).
struct DecodeContext {
  PackageReader* reader;
  PieceOutput output;
  void* outputContext;
  std::uint8_t* gathered;          // kOutputSize bytes
  std::uint32_t gatheredCount;
  bool writeFailed;
};

std::uint32_t ReadSegmentBytes(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto* context = static_cast<DecodeContext*>(parameter);
  // Once the output is lost there is no use decoding on: an empty read ends the stream.
  if (context->writeFailed) return 0;
  return context->reader->ReadToMarker(buffer, *size);
}

void PassOn(DecodeContext& context) {
  if (context.gatheredCount != 0 && !context.output(context.outputContext, context.gathered, context.gatheredCount)) {
    context.writeFailed = true;
  }
  context.gatheredCount = 0;
}

void WriteDecodedBytes(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& context = *static_cast<DecodeContext*>(parameter);
  for (std::uint32_t left = *size; left != 0 && !context.writeFailed;) {
    std::uint32_t n = PackageReader::kOutputSize - context.gatheredCount;
    if (n > left) n = left;
    std::memcpy(context.gathered + context.gatheredCount, buffer, n);
    context.gatheredCount += n;
    buffer += n;
    left -= n;
    if (context.gatheredCount == PackageReader::kOutputSize) PassOn(context);
  }
}

}  // namespace

PackageFault PackageReader::DecodeSegment(PieceOutput output, void* outputContext,
                                          std::uint64_t& fileTime, std::uint32_t& decoderResult) {
  decoderResult = 0;
  if (fault_ != PackageFault::None) return fault_;
  // Value-initialised: the decoder needs a zero history.
  std::unique_ptr<ExplodeState> state(new ExplodeState());
  if (!output_) output_.reset(new std::uint8_t[kOutputSize]);
  DecodeContext context = {this, output, outputContext, output_.get(), 0, false};
  const ExplodeResult result = ExplodeStream(ReadSegmentBytes, WriteDecodedBytes, state.get(), &context);
  state.reset();
  if (!context.writeFailed) PassOn(context);
  if (fault_ != PackageFault::None) return fault_;
  if (context.writeFailed) return fault_ = PackageFault::WriteFailed;
  if (result != kExplodeOk) {
    decoderResult = result;
    return fault_ = PackageFault::BadSegment;
  }
  // The decoder stops at the end code; anything between it and the marker is not part of the file.
  while (ReadToMarker(nullptr, 0xFFFFFFFFu) != 0) {
  }
  if (fault_ != PackageFault::None) return fault_;
  StepPastMarker();
  return ReadFileTime(fileTime);
}
