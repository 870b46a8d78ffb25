// An independent reading of a built package for the tests: it knows the layout by heart (stub,
// marker, segments each followed by marker and file time, padding, checksum) and checks every piece
// without the product's reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace package_test {

using Bytes = std::vector<std::uint8_t>;

struct Segment {
  Bytes stream;            // the compressed bytes, as stored
  std::uint64_t fileTime;  // the 8 bytes after its marker
};

struct ParsedPackage {
  std::string error;  // empty when every rule held
  Bytes stub;
  std::vector<Segment> segments;  // the setup script first, then the files in order
  std::uint32_t padding = 0;
};

// Reads `package`, which must start with `stub` and hold exactly `segmentCount` segments.
ParsedPackage ParsePackage(const Bytes& package, const Bytes& stub, std::size_t segmentCount);

Bytes ReadWholeFile(const std::string& path);

}  // namespace package_test
