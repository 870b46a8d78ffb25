// Reads the pieces of a package front to back, once, through one fixed buffer: the stub image, then
// one compressed segment after another, each decoded straight into its destination. Finding a piece's
// end by the marker (also when the marker straddles two buffer fills), checking the file time behind
// it and checking that the segment decodes cleanly all happen here, for the installer and for
// qorpack alike. Portable: the package bytes come from a callback, so memory and files read the same.
#pragma once

#include <cstdint>
#include <memory>

#include "package/layout.h"

// What went wrong with a piece; every value but None means the package is damaged or unreadable.
enum class PackageFault {
  None,
  ReadFailed,     // the input callback reported a failure
  NoMarker,       // the data ended where a marker had to follow
  ShortFileTime,  // fewer than 8 bytes follow a segment's marker
  BadSegment,     // the segment is not one complete implode stream
  WriteFailed,    // the output callback refused the decoded bytes (a full disk, for instance)
};

// A short English reason for a fault, for error texts and tool messages.
const char* DescribePackageFault(PackageFault fault);

// Takes the next `size` bytes of a piece; returns false when they cannot be stored.
using PieceOutput = bool (*)(void* context, const std::uint8_t* data, std::uint32_t size);

class PackageReader {
 public:
  // Bytes of the package held at once, and of a piece's decoded bytes gathered before they go to the
  // output in one call. Together with the decoder's state this is all the memory that reading a
  // package of any size takes.
  static constexpr std::uint32_t kBufferSize = 64 * 1024;
  static constexpr std::uint32_t kOutputSize = 64 * 1024;

  // Reads from `input`, which stands at package offset `start`, and never takes bytes at or beyond
  // offset `end` (the checksum word lies there: it is not part of any piece).
  PackageReader(PackageInput input, void* context, std::uint32_t start, std::uint32_t end);

  // Hands the stub image (everything before the second marker: the stub keeps one copy of the marker
  // in its own data) to `output` and steps past the marker that ends it.
  PackageFault CopyStub(PieceOutput output, void* outputContext);

  // Decodes the segment that starts here into `output` (in calls of up to kOutputSize bytes, the
  // last one possibly shorter), then steps past its marker and file time,
  // which lands in `fileTime`. Bytes after the stream's end code and before the marker are ignored.
  // On BadSegment, `decoderResult` holds the decoder's non-zero result (0 when only the output
  // callback failed).
  PackageFault DecodeSegment(PieceOutput output, void* outputContext, std::uint64_t& fileTime,
                             std::uint32_t& decoderResult);

  // Package offset of the next piece (valid after a call that returned None).
  std::uint32_t Position() const { return position_; }

  // Bytes of the piece before the next marker, up to `size`, copied into `buffer`; 0 once the
  // marker is reached or the data is used up (fault() then tells which). Used by DecodeSegment's
  // input callback; public so that tools can walk a piece without decoding it.
  std::uint32_t ReadToMarker(std::uint8_t* buffer, std::uint32_t size);
  PackageFault fault() const { return fault_; }

 private:
  // Moves the unused bytes to the front and reads more; false when nothing more can come.
  bool Refill();
  // True when a marker starts at buffer offset `at` (which must have kMarkerSize bytes behind it).
  bool MarkerAt(std::uint32_t at) const;
  // Finds the next marker at or after head_, extending markerScan_; sets markerAt_ when found.
  void ScanForMarker();
  PackageFault StepPastMarker();
  PackageFault ReadFileTime(std::uint64_t& fileTime);

  PackageInput input_;
  void* context_;
  std::uint32_t remainingInput_;   // bytes left before `end`
  std::uint32_t position_;         // package offset of buffer_[head_]
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::unique_ptr<std::uint8_t[]> output_;  // decoded bytes gathered for the output; made on first use
  std::uint32_t head_ = 0;         // next unconsumed byte
  std::uint32_t tail_ = 0;         // end of the bytes read
  std::uint32_t markerScan_ = 0;   // no marker starts in [head_, markerScan_)
  std::uint32_t markerAt_ = 0;     // start of the next marker, when markerFound_
  bool markerFound_ = false;
  bool inputEnded_ = false;
  PackageFault fault_ = PackageFault::None;
};
