// The stub's checks, made on its bytes as they stream past: it must be a Windows executable (an
// "MZ" header whose e_lfanew field points at the PE signature) holding SegmentMarker exactly once,
// its own copy in its data; readers take the first marker after that copy for the end of the stub.
#pragma once

#include <cstdint>

#include "package/marker_scan.h"

struct StubScan {
  std::uint64_t length = 0;          // bytes seen so far
  std::uint8_t header[64] = {};      // the DOS header
  std::uint8_t signature[4] = {};    // the bytes at e_lfanew, once seen
  std::uint32_t signatureSeen = 0;   // how many of them
  MarkerScan markers;
};

enum class StubVerdict {
  Ok,
  NotExecutable,  // no "MZ" header, or no "PE\0\0" where it points
  NoMarker,       // not a stub of this program
  SeveralMarkers, // a stub that already carries a package
};

StubScan StartStubScan();
void FeedStubScan(StubScan& scan, const std::uint8_t* bytes, std::uint32_t size);
StubVerdict JudgeStub(const StubScan& scan);
