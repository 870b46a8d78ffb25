// One compressed segment of a package, streamed from its source file into the package through the
// encoder, with the check that no segment holds the marker (a reader would end it there).
#pragma once

#include <cstdint>
#include <functional>

#include "builder/package_writer.h"
#include "platform/platform.h"

// Reports how far a segment's source has been read; `size` is 0 when the source's size is unknown.
using SegmentProgress = void (*)(void* context, const char* name, std::uint64_t done, std::uint64_t size);

struct SegmentCheck {
  const std::uint8_t* pattern;  // the bytes no segment may hold: SegmentMarker, or a test's probe
  std::uint32_t patternSize;
  SegmentProgress progress;     // may be null
  void* progressContext;
};

enum class SegmentResult {
  Ok,
  NoMemory,             // the encoder's working record cannot be allocated
  ReadFailed,           // the source could not be read (or rewound for another try)
  WriteFailed,          // the package could not be written
  TooLarge,             // the package would pass its limit
  MarkerInEveryStream,  // all three dictionary sizes give a stream that holds the pattern
  SourceChanged,        // the source's size or last-write time after the reading differs from
                        // before it: another process wrote it meanwhile
};

// Threads that a segment may borrow to code its pieces in parallel (see codec/implode_pieces.h).
class SegmentHelpers {
 public:
  // How many threads may run posted tasks at once, the caller's included.
  virtual unsigned Threads() const = 0;
  // Queues `task` for a helper thread; it runs once, on a helper or in Help.
  virtual void Post(std::function<void()> task) = 0;
  // Runs one queued task on the calling thread; false when none is waiting.
  virtual bool Help() = 0;

 protected:
  ~SegmentHelpers() = default;
};

// Sources from this size on are coded in pieces when helpers are given.
constexpr std::uint32_t kPiecedSource = 4u << 20;

// Compresses `source` from its start into the package (binary literals; a 4096-byte dictionary,
// else 2048, else 1024 when a stream holds the pattern: every installer reads all three). The
// stream is the one ImplodeBuffer gives for the same bytes; a stream of 4 bytes or fewer (the empty
// file) gets one zero byte behind it, since installers refuse streams that short and decode the
// longer one to the empty file. `name` only labels the progress reports. With `helpers`, a source of
// kPiecedSource bytes or more is coded in pieces on them and the calling thread; the stream is the
// same bytes.
// On ReadFailed `readStatus` (when given) receives the system's reason; on WriteFailed it is in
// writer.status. On Ok `sourceBytes` (when given) receives the bytes of the source that were packed.
SegmentResult WriteCompressedSegment(PackageWriter& writer, platform::File& source, const SegmentCheck& check,
                                     const char* name, platform::Status* readStatus = nullptr,
                                     std::uint64_t* sourceBytes = nullptr, SegmentHelpers* helpers = nullptr);
