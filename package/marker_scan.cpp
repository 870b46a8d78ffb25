// A Knuth-Morris-Pratt scan: one pass over each byte whatever the piece boundaries, and no bytes kept
// from earlier pieces beyond the matched length.
#include "package/marker_scan.h"

#include <cstring>

#include "package/layout.h"

MarkerScan StartMarkerScan(const std::uint8_t* pattern, std::uint32_t size) {
  MarkerScan scan{};
  if (size > kMaxScanPattern) size = kMaxScanPattern;
  if (size != 0) std::memcpy(scan.pattern, pattern, size);
  // An empty pattern would match everywhere: it scans for one zero byte instead.
  scan.patternSize = size != 0 ? size : 1;
  size = scan.patternSize;
  // fallback[i]: the longest proper prefix of pattern[0, i) that is also its suffix.
  scan.fallback[0] = 0;
  if (size >= 1) scan.fallback[1] = 0;
  std::uint32_t k = 0;
  for (std::uint32_t i = 1; i < size; ++i) {
    while (k > 0 && scan.pattern[i] != scan.pattern[k]) k = scan.fallback[k];
    if (scan.pattern[i] == scan.pattern[k]) ++k;
    scan.fallback[i + 1] = static_cast<std::uint8_t>(k);
  }
  return scan;
}

MarkerScan StartMarkerScan() {
  return StartMarkerScan(reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize);
}

std::uint32_t FeedMarkerScan(MarkerScan& scan, const std::uint8_t* bytes, std::uint32_t size) {
  std::uint32_t k = scan.matched;
  for (std::uint32_t i = 0; i < size; ++i) {
    if (k == 0) {
      // Nothing matched: only the pattern's first byte can start a match, and the library finds
      // it many bytes at a time (a byte-wise pass cost the build about a twentieth of its time).
      const void* first = std::memchr(bytes + i, scan.pattern[0], size - i);
      if (first == nullptr) break;
      i = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(first) - bytes);
    }
    while (k > 0 && bytes[i] != scan.pattern[k]) k = scan.fallback[k];
    if (bytes[i] == scan.pattern[k]) ++k;
    if (k == scan.patternSize) {
      ++scan.count;
      k = scan.fallback[k];
    }
  }
  scan.matched = k;
  return scan.count;
}
