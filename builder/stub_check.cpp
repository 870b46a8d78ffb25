// The stub's header and marker checks over data that arrives in pieces of any size.
#include "builder/stub_check.h"

#include <cstring>

namespace {

constexpr std::uint32_t kHeaderSize = sizeof(StubScan::header);
constexpr std::uint32_t kNewHeaderField = 0x3C;  // e_lfanew: the offset of the PE signature
const std::uint8_t kSignature[4] = {'P', 'E', 0, 0};

std::uint32_t SignatureOffset(const StubScan& scan) {
  const std::uint8_t* p = scan.header + kNewHeaderField;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

StubScan StartStubScan() {
  StubScan scan;
  scan.markers = StartMarkerScan();
  return scan;
}

void FeedStubScan(StubScan& scan, const std::uint8_t* bytes, std::uint32_t size) {
  FeedMarkerScan(scan.markers, bytes, size);
  const std::uint64_t start = scan.length;
  const std::uint64_t end = start + size;
  for (std::uint64_t at = start; at < end && at < kHeaderSize; ++at) scan.header[at] = bytes[at - start];
  scan.length = end;
  if (end < kHeaderSize) return;
  // A signature inside the header is read from the header; one behind it is caught as it passes.
  const std::uint64_t offset = SignatureOffset(scan);
  if (offset < kHeaderSize) return;
  for (std::uint64_t at = offset > start ? offset : start; at < end && at < offset + 4; ++at) {
    scan.signature[at - offset] = bytes[at - start];
    ++scan.signatureSeen;
  }
}

StubVerdict JudgeStub(const StubScan& scan) {
  if (scan.length < kHeaderSize || scan.header[0] != 'M' || scan.header[1] != 'Z') return StubVerdict::NotExecutable;
  const std::uint32_t offset = SignatureOffset(scan);
  if (offset < kHeaderSize) {
    if (offset + 4 > kHeaderSize || std::memcmp(scan.header + offset, kSignature, 4) != 0) {
      return StubVerdict::NotExecutable;
    }
  } else if (scan.signatureSeen != 4 || std::memcmp(scan.signature, kSignature, 4) != 0) {
    return StubVerdict::NotExecutable;
  }
  if (scan.markers.count == 0) return StubVerdict::NoMarker;
  if (scan.markers.count > 1) return StubVerdict::SeveralMarkers;
  return StubVerdict::Ok;
}
