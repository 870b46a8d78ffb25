// The stub's checks, fed in pieces of every size so that a header, signature or marker split
// between two pieces is judged as a whole one.
#include "builder/stub_check.h"

#include <gtest/gtest.h>

#include <string>

#include "package/layout.h"

namespace {

std::string Header(std::uint32_t signatureOffset) {
  std::string bytes = "MZ";
  bytes.resize(0x3C, '\0');
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(signatureOffset >> (8 * i));
  return bytes;
}

StubVerdict Judge(const std::string& bytes, std::size_t piece) {
  StubScan scan = StartStubScan();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    FeedStubScan(scan, reinterpret_cast<const std::uint8_t*>(bytes.data() + at), static_cast<std::uint32_t>(n));
  }
  return JudgeStub(scan);
}

TEST(StubCheckTest, JudgesTheWholeFileWhateverItsPieces) {
  const std::string marker(SegmentMarker, kMarkerSize);
  const std::string pe("PE\0\0", 4);
  const struct {
    const char* what;
    std::string bytes;
    StubVerdict verdict;
  } kCases[] = {
      {"a stub", Header(0x40) + pe + "data " + marker + " more", StubVerdict::Ok},
      {"signature far behind the header", Header(0x200) + std::string(0x200 - 0x40, 'x') + pe + marker,
       StubVerdict::Ok},
      {"signature inside the header", [&] { std::string h = Header(0x20); h.replace(0x20, 4, pe); return h + marker; }(),
       StubVerdict::Ok},
      {"text holding the marker", "just text " + marker + std::string(80, ' '), StubVerdict::NotExecutable},
      {"MZ without a PE signature", Header(0x40) + "NE\0\0" + marker, StubVerdict::NotExecutable},
      {"e_lfanew past the end", Header(0x1000) + pe + marker, StubVerdict::NotExecutable},
      {"e_lfanew overlapping its own field", Header(0x3E) + marker, StubVerdict::NotExecutable},
      {"shorter than a DOS header", "MZ" + marker, StubVerdict::NotExecutable},
      {"no marker", Header(0x40) + pe + "data", StubVerdict::NoMarker},
      {"a package as the stub", Header(0x40) + pe + marker + "segment" + marker, StubVerdict::SeveralMarkers},
  };
  for (const auto& c : kCases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{64}, std::size_t{65536}}) {
      EXPECT_EQ(Judge(c.bytes, piece), c.verdict) << c.what << ", pieces of " << piece;
    }
  }
}

}  // namespace
