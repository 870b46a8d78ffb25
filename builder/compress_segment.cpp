// Streaming a source through ImplodeStream into the package. The callbacks cannot report failure to
// the encoder, so they note it in the transfer record, and the read callback ends the input early
// once the attempt is lost anyway.
#include "builder/compress_segment.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

#include "codec/implode.h"
#include "codec/implode_pieces.h"
#include "package/marker_scan.h"

namespace {

// A stream this short is refused by the installers' decoder: only the empty input gives one.
constexpr std::uint32_t kShortestReadableStream = 5;
// How far each piece codes on into the next chunk: parses of real data meet a few dozen bytes after
// a chunk's start (some thousands in tables and repeating stretches); where they do not, the
// encoder codes on from where they parted on this thread.
constexpr std::uint32_t kPieceRunOn = 8192;

struct Transfer {
  platform::File* source;
  PackageWriter* writer;
  const SegmentCheck* check;
  const char* name;
  MarkerScan scan;
  std::uint64_t done;
  std::uint64_t size;
  std::uint32_t streamLength;
  platform::Status read;
  bool markerFound;
  WriteResult writeResult;
};

bool AttemptLost(const Transfer& t) {
  return !t.read || t.markerFound || t.writeResult != WriteResult::Ok;
}

std::uint32_t ReadSource(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Transfer& t = *static_cast<Transfer*>(parameter);
  if (AttemptLost(t)) return 0;
  std::uint32_t got = 0;
  if (!(t.read = platform::ReadFile(*t.source, buffer, *size, got))) return 0;
  t.done += got;
  if (t.check->progress != nullptr) t.check->progress(t.check->progressContext, t.name, t.done, t.size);
  return got;
}

void WriteStream(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Transfer& t = *static_cast<Transfer*>(parameter);
  if (AttemptLost(t)) return;
  // The pattern can only lie wholly inside the segment: the marker that follows a segment starts
  // with a byte ("<") that occurs nowhere else in the marker, so no tail of a segment can join it
  // into an earlier occurrence.
  if (FeedMarkerScan(t.scan, buffer, *size) != 0) {
    t.markerFound = true;
    return;
  }
  t.writeResult = Append(*t.writer, buffer, *size);
  t.streamLength += *size;
}

// Codes the pieces of one stream as tasks on the helpers; the coding thread helps while it waits.
class PieceTasks final : public ImplodePieceRunner {
 public:
  explicit PieceTasks(SegmentHelpers& helpers) : helpers_(helpers) {}
  // Returns once every posted task has ended, helping meanwhile.
  ~PieceTasks() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_ != 0) {
      lock.unlock();
      const bool helped = helpers_.Help();
      lock.lock();
      // Nothing queued: the rest are running on other threads.
      if (!helped) ended_.wait(lock, [&] { return running_ == 0; });
    }
  }

  void Start(ImplodePiece& piece) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++running_;
    }
    helpers_.Post([this, &piece] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        started_.push_back(&piece);
      }
      // A state per piece: 230 KB against a megabyte's coding.
      std::unique_ptr<ImplodeState> state(new (std::nothrow) ImplodeState);
      if (state) {
        ImplodeCodePiece(piece, state.get());
      } else {
        piece.result = kImplodeNoMemory;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      Forget(started_, &piece);
      done_.push_back(&piece);
      --running_;
      ended_.notify_all();
    });
  }

  void Wait(ImplodePiece& piece) override {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!Done(piece)) {
      // Being coded on another thread: wait for it. This thread reads the source, joins the pieces
      // and writes the stream, and the other threads code only as fast as it keeps them supplied;
      // coding a queued piece meanwhile (a megabyte, some 10 ms) held the join up behind it, which
      // cost a 256 MiB source on two cores 6% of its time.
      if (Contains(started_, &piece)) {
        ended_.wait(lock, [&] { return Done(piece); });
        return;
      }
      lock.unlock();
      // Still queued: every other thread is busy elsewhere (coding, or waiting for this one's
      // stream to be taken), so queued tasks are run here.
      const bool helped = helpers_.Help();
      lock.lock();
      if (!helped) {
        ended_.wait(lock, [&] { return Done(piece); });
        return;
      }
    }
  }

 private:
  static bool Contains(const std::vector<ImplodePiece*>& pieces, const ImplodePiece* piece) {
    for (const ImplodePiece* p : pieces) {
      if (p == piece) return true;
    }
    return false;
  }
  static bool Forget(std::vector<ImplodePiece*>& pieces, const ImplodePiece* piece) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i] == piece) {
        pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
      }
    }
    return false;
  }
  // Whether `piece` is coded; true once only, since it forgets the piece.
  bool Done(ImplodePiece& piece) { return Forget(done_, &piece); }

  SegmentHelpers& helpers_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<ImplodePiece*> started_;  // being coded
  std::vector<ImplodePiece*> done_;
  unsigned running_ = 0;
};

// A source's size and last-write time, read through its handle. Another process that writes the
// source while it is read would leave a segment that matches neither version (a 300 MB file cut to
// 100 MB during a build once decoded to 125 MB); so they are taken before the first read and again
// after the last, and any difference refuses the segment.
struct SourceState {
  platform::Status sized, timed;
  std::uint32_t size = 0;
  std::uint64_t time = 0;
};

SourceState StateOf(platform::File& source) {
  SourceState state;
  state.sized = platform::SeekEnd(source, state.size);
  state.timed = platform::GetLastWriteTime(source, state.time);
  return state;
}

bool Unchanged(const SourceState& before, const SourceState& after) {
  return static_cast<bool>(before.sized) == static_cast<bool>(after.sized) && before.size == after.size &&
         static_cast<bool>(before.timed) == static_cast<bool>(after.timed) && before.time == after.time;
}

}  // namespace

SegmentResult WriteCompressedSegment(PackageWriter& writer, platform::File& source, const SegmentCheck& check,
                                     const char* name, platform::Status* readStatus, std::uint64_t* sourceBytes,
                                     SegmentHelpers* helpers) {
  static const std::uint32_t kDictionaries[] = {4096, 2048, 1024};
  const SourceState before = StateOf(source);
  std::uint32_t size = 0;
  const bool sized = static_cast<bool>(platform::SeekEnd(source, size));
  const std::uint32_t start = writer.length;
  platform::Status unused;
  platform::Status& read = readStatus != nullptr ? *readStatus : unused;
  for (const std::uint32_t dictionary : kDictionaries) {
    if (!(read = platform::Seek(source, 0))) return SegmentResult::ReadFailed;
    if (!CutPackage(writer, start)) return SegmentResult::WriteFailed;
    // ImplodeStream sets the record up itself, so it is left uninitialised here.
    std::unique_ptr<ImplodeState> state(new (std::nothrow) ImplodeState);
    if (!state) return SegmentResult::NoMemory;
    Transfer t{&source, &writer, &check, name, StartMarkerScan(check.pattern, check.patternSize),
               0, sized ? size : 0u, 0, platform::Status(), false, WriteResult::Ok};
    if (helpers != nullptr && helpers->Threads() > 1 && sized && size >= kPiecedSource) {
      PieceTasks tasks(*helpers);
      ImplodePieceLimits limits;
      limits.runOn = kPieceRunOn;
      limits.inFlight = helpers->Threads() + 2;
      if (ImplodeInPieces(ReadSource, WriteStream, &t, kLiteralBinary, dictionary, limits, tasks) == kImplodeNoMemory) {
        return SegmentResult::NoMemory;
      }
    } else {
      ImplodeStream(ReadSource, WriteStream, state.get(), &t, kLiteralBinary, dictionary);
    }
    if (!(read = t.read)) return SegmentResult::ReadFailed;
    if (t.writeResult == WriteResult::Failed) return SegmentResult::WriteFailed;
    if (t.writeResult == WriteResult::TooLarge) return SegmentResult::TooLarge;
    if (t.markerFound) continue;
    if (t.streamLength < kShortestReadableStream) {
      const std::uint8_t zero = 0;
      switch (Append(writer, &zero, 1)) {
        case WriteResult::Ok: break;
        case WriteResult::Failed: return SegmentResult::WriteFailed;
        case WriteResult::TooLarge: return SegmentResult::TooLarge;
      }
    }
    if (!Unchanged(before, StateOf(source))) return SegmentResult::SourceChanged;
    if (sourceBytes != nullptr) *sourceBytes = t.done;
    return SegmentResult::Ok;
  }
  return SegmentResult::MarkerInEveryStream;
}
