// Finding a byte sequence (normally SegmentMarker) in data that arrives in pieces: the builder checks
// every compressed segment and the stub with it, since a reader ends a segment at the first marker.
#pragma once

#include <cstdint>

// The longest sequence a scan can look for.
constexpr std::uint32_t kMaxScanPattern = 16;

// The state of one scan; start it with StartMarkerScan and feed it every piece in order.
struct MarkerScan {
  std::uint8_t pattern[kMaxScanPattern];
  std::uint8_t fallback[kMaxScanPattern + 1];  // matched length to resume from after a mismatch
  std::uint32_t patternSize;
  std::uint32_t matched;  // bytes of the pattern matched by the end of the data seen so far
  std::uint32_t count;    // occurrences found so far (overlapping ones each count)
};

// Starts a scan for `size` bytes at `pattern` (1 to kMaxScanPattern; longer patterns are cut to that
// size, which only the tests' short probes could ever reach).
MarkerScan StartMarkerScan(const std::uint8_t* pattern, std::uint32_t size);
// A scan for SegmentMarker.
MarkerScan StartMarkerScan();

// Feeds the next `size` bytes; occurrences that span the boundary between two pieces are found.
// Returns the number of occurrences found so far.
std::uint32_t FeedMarkerScan(MarkerScan& scan, const std::uint8_t* bytes, std::uint32_t size);
