// The marker scan: found wherever it lies, however the data is cut into pieces, and counted.
#include "package/marker_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kMarker = "<iiiiiiiiiii>";

std::uint32_t CountInPieces(const std::string& data, std::size_t pieceSize) {
  MarkerScan scan = StartMarkerScan();
  std::uint32_t count = 0;
  for (std::size_t at = 0; at < data.size(); at += pieceSize) {
    const std::string piece = data.substr(at, pieceSize);
    count = FeedMarkerScan(scan, reinterpret_cast<const std::uint8_t*>(piece.data()),
                           static_cast<std::uint32_t>(piece.size()));
  }
  return count;
}

TEST(MarkerScanTest, FindsTheMarkerAcrossEveryPieceBoundary) {
  const std::string data = "xx<ii" + kMarker + "i>" + kMarker.substr(0, 12) + "<" + kMarker + "z";
  for (std::size_t piece = 1; piece <= data.size(); ++piece) {
    EXPECT_EQ(CountInPieces(data, piece), 2u) << "pieces of " << piece;
  }
}

TEST(MarkerScanTest, MarkersFarApartInLargePieces) {
  // Long stretches with no "<" and long stretches of near starts, with markers at both ends.
  const std::string data = kMarker + std::string(100000, 'x') + kMarker + std::string(50000, '<') +
                           std::string(3000, 'i') + "<iiiiiiiiiii" + kMarker;
  for (std::size_t piece : {data.size(), std::size_t{65536}, std::size_t{4096}, std::size_t{13}}) {
    EXPECT_EQ(CountInPieces(data, piece), 3u) << "pieces of " << piece;
  }
}

TEST(MarkerScanTest, NearMissesAreNotCounted) {
  EXPECT_EQ(CountInPieces("<iiiiiiiiii>", 3), 0u);    // ten "i"
  EXPECT_EQ(CountInPieces("<iiiiiiiiiiii>", 3), 0u);  // twelve "i"
  EXPECT_EQ(CountInPieces("<iiiiiiiiiiI>", 5), 0u);
  EXPECT_EQ(CountInPieces("", 1), 0u);
}

TEST(MarkerScanTest, SelfOverlappingProbesFallBackCorrectly) {
  // Patterns whose prefix recurs need the fallback table: "aab" in "aaab", "abab" twice in "ababab".
  const std::uint8_t aab[] = {'a', 'a', 'b'};
  MarkerScan scan = StartMarkerScan(aab, 3);
  const std::uint8_t text[] = {'a', 'a', 'a', 'b'};
  EXPECT_EQ(FeedMarkerScan(scan, text, 4), 1u);
  const std::uint8_t abab[] = {'a', 'b', 'a', 'b'};
  scan = StartMarkerScan(abab, 4);
  const std::uint8_t text2[] = {'a', 'b', 'a', 'b', 'a', 'b'};
  EXPECT_EQ(FeedMarkerScan(scan, text2, 3), 0u);
  EXPECT_EQ(FeedMarkerScan(scan, text2 + 3, 3), 2u);
}

}  // namespace
