// The tests' own package reading: a byte search for the marker, and the layout's arithmetic.
#include "package_image.h"

#include <algorithm>
#include <cstdio>

namespace package_test {

namespace {

const std::string kMarker = "<iiiiiiiiiii>";

std::uint32_t Word(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::size_t FindMarker(const Bytes& b, std::size_t from) {
  const auto it = std::search(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), kMarker.begin(), kMarker.end());
  return it == b.end() ? std::string::npos : static_cast<std::size_t>(it - b.begin());
}

}  // namespace

ParsedPackage ParsePackage(const Bytes& package, const Bytes& stub, std::size_t segmentCount) {
  ParsedPackage p;
  if (package.size() < stub.size() + kMarker.size() + 4 || package.size() % 4 != 0) {
    p.error = "length " + std::to_string(package.size()) + " is too short or no multiple of 4";
    return p;
  }
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at + 4 < package.size(); at += 4) sum += Word(package, at);
  if (sum != Word(package, package.size() - 4)) {
    p.error = "checksum mismatch";
    return p;
  }
  if (!std::equal(stub.begin(), stub.end(), package.begin())) {
    p.error = "the package does not start with the stub";
    return p;
  }
  p.stub = stub;
  // The stub's own copy of the marker is the first occurrence; the one ending the stub the second.
  const std::size_t first = FindMarker(package, 0);
  const std::size_t second = first == std::string::npos ? first : FindMarker(package, first + 1);
  if (second != stub.size()) {
    p.error = "the second marker is not at the end of the stub";
    return p;
  }
  std::size_t at = second + kMarker.size();
  for (std::size_t i = 0; i < segmentCount; ++i) {
    const std::size_t marker = FindMarker(package, at);
    if (marker == std::string::npos || marker + kMarker.size() + 8 > package.size() - 4) {
      p.error = "segment " + std::to_string(i) + " has no marker and time";
      return p;
    }
    Segment s;
    s.stream.assign(package.begin() + static_cast<std::ptrdiff_t>(at), package.begin() + static_cast<std::ptrdiff_t>(marker));
    const std::size_t time = marker + kMarker.size();
    s.fileTime = Word(package, time) | (std::uint64_t{Word(package, time + 4)} << 32);
    p.segments.push_back(s);
    at = time + 8;
  }
  p.padding = static_cast<std::uint32_t>(package.size() - 4 - at);
  if (p.padding > 3 || (at + p.padding) % 4 != 0) {
    p.error = "padding of " + std::to_string(p.padding) + " bytes after the last segment";
    return p;
  }
  for (std::size_t i = at; i < package.size() - 4; ++i) {
    if (package[i] != 0) p.error = "non-zero padding";
  }
  return p;
}

Bytes ReadWholeFile(const std::string& path) {
  Bytes bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  return bytes;
}

}  // namespace package_test
