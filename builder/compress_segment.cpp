// Streaming a source through ImplodeStream into the package. The callbacks cannot report failure to
// the encoder, so they note it in the transfer record, and the read callback ends the input early
// once the attempt is lost anyway.
#include "builder/compress_segment.h"

#include <memory>
#include <new>

#include "codec/implode.h"
#include "package/marker_scan.h"

namespace {

// A stream this short is refused by the installers' decoder: only the empty input gives one.
constexpr std::uint32_t kShortestReadableStream = 5;

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
                                     const char* name, platform::Status* readStatus) {
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
    ImplodeStream(ReadSource, WriteStream, state.get(), &t, kLiteralBinary, dictionary);
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
    return Unchanged(before, StateOf(source)) ? SegmentResult::Ok : SegmentResult::SourceChanged;
  }
  return SegmentResult::MarkerInEveryStream;
}
