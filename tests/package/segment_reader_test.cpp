// The streaming package reader: pieces found by their markers wherever the buffer boundaries fall,
// segments decoded in full, and every kind of damage reported as a fault instead of a short file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "package/package_reader.h"
#include "tests/installer/test_package.h"

namespace {

using testpkg::Bytes;

// The package served from memory, in deliveries of at most `step` bytes (a file gives what it has).
struct MemoryInput {
  const Bytes* data;
  std::size_t offset;
  std::uint32_t step;
  std::size_t failAt;  // a read that would reach this offset fails
};

bool ReadMemory(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* input = static_cast<MemoryInput*>(context);
  got = 0;
  if (input->offset + size > input->failAt) return false;
  const std::size_t left = input->data->size() - input->offset;
  got = static_cast<std::uint32_t>(std::min<std::size_t>({size, left, input->step}));
  std::memcpy(buffer, input->data->data() + input->offset, got);
  input->offset += got;
  return true;
}

bool Collect(void* context, const std::uint8_t* data, std::uint32_t size) {
  testpkg::Append(*static_cast<Bytes*>(context), data, size);
  return true;
}

bool Refuse(void*, const std::uint8_t*, std::uint32_t) { return false; }

Bytes Mixed(std::size_t size, std::uint32_t seed) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    // Runs of text with some noise: long matches and literals both occur.
    data[i] = (i / 700) % 2 == 0 ? static_cast<std::uint8_t>("installer "[i % 10]) : static_cast<std::uint8_t>(seed >> 24);
  }
  return data;
}

struct Read {
  Bytes stub, script;
  std::vector<Bytes> files;
  std::vector<std::uint64_t> times;
  PackageFault fault = PackageFault::None;
  std::uint32_t decoderResult = 0;
  std::uint32_t endPosition = 0;
};

// Reads a whole package as the installer does: stub, script, then `fileCount` segments.
Read ReadAll(const Bytes& package, std::size_t fileCount, std::uint32_t step = 1u << 20,
             std::size_t failAt = SIZE_MAX) {
  MemoryInput input{&package, 0, step, failAt};
  PackageReader reader(ReadMemory, &input, 0, static_cast<std::uint32_t>(package.size() - 4));
  Read result;
  result.fault = reader.CopyStub(Collect, &result.stub);
  for (std::size_t i = 0; i <= fileCount && result.fault == PackageFault::None; ++i) {
    Bytes out;
    std::uint64_t time = 0;
    result.fault = reader.DecodeSegment(Collect, &out, time, result.decoderResult);
    if (result.fault != PackageFault::None) break;
    (i == 0 ? result.script : result.files.emplace_back()) = out;
    result.times.push_back(time);
  }
  result.endPosition = reader.Position();
  return result;
}

TEST(SegmentReader, FindsEveryPieceWhereverTheBufferBoundariesFall) {
  const Bytes script = testpkg::ToBytes("[Files]\nFile01=a.exe,c:\\a.exe\n");
  const Bytes big = Mixed(300000, 7);  // several buffer fills
  const Bytes small = testpkg::ToBytes("x");
  // Stub lengths that put the marker ending the stub across the first buffer boundary at every
  // split, and in odd read sizes that split it anywhere.
  for (std::size_t stubSize : {std::size_t{100}, std::size_t{65536 - 13}, std::size_t{65536 - 7},
                               std::size_t{65536 - 1}, std::size_t{65536}, std::size_t{65536 + 5}}) {
    for (std::uint32_t step : {1u << 20, 4099u, 13u}) {
      const Bytes stub = testpkg::FakeStub(stubSize, stubSize / 2);
      const Bytes package = testpkg::Compose(
          stub, {script, 0x01D9000011112222ull}, {{big, 0x01D8AAAA00000001ull}, {small, 0x0123456789ABCDEFull}});
      const Read read = ReadAll(package, 2, step);
      SCOPED_TRACE("stub " + std::to_string(stubSize) + ", step " + std::to_string(step));
      ASSERT_EQ(read.fault, PackageFault::None);
      EXPECT_EQ(read.stub, stub);
      EXPECT_EQ(read.script, script);
      ASSERT_EQ(read.files.size(), 2u);
      EXPECT_EQ(read.files[0], big);
      EXPECT_EQ(read.files[1], small);
      EXPECT_EQ(read.times, (std::vector<std::uint64_t>{0x01D9000011112222ull, 0x01D8AAAA00000001ull,
                                                         0x0123456789ABCDEFull}));
      // After the last piece: the padding, or the checksum when there is none.
      EXPECT_LE(package.size() - 4 - read.endPosition, 3u);
    }
  }
}

// The decoder stops at the end code; what lies between it and the marker is not part of the file.
TEST(SegmentReader, FindsTheFirstMarkerAmongItsOwnBytes) {
  // The marker search looks at a word in every 8 bytes and tests the starts around the words that
  // could lie inside a marker. Bytes of the marker's own in front of it (runs of its middle byte,
  // its start or its end alone, a marker cut short at either end, two overlapping) must neither
  // hide it nor pass it, at every offset from the buffer's start and wherever the buffer boundary
  // falls: the piece ends where a plain search finds the first marker.
  const std::string marker(SegmentMarker, kMarkerSize);
  const std::string middle = marker.substr(1, 1), start = marker.substr(0, 1), end = marker.substr(kMarkerSize - 1);
  const std::string fillers[] = {std::string(30, middle[0]),
                                 start + std::string(kMarkerSize - 2, middle[0]) + start,
                                 std::string(kMarkerSize - 1, middle[0]) + end + end,
                                 marker.substr(0, kMarkerSize - 1) + marker.substr(2),
                                 start + marker,
                                 marker.substr(0, 7) + marker,
                                 end + start + end};
  for (const std::string& filler : fillers) {
    for (std::size_t pad = PackageReader::kBufferSize - 40; pad <= PackageReader::kBufferSize + 4; ++pad) {
      Bytes data(pad, 'x');
      for (const std::string& part : {filler, marker, std::string("TIMETIME")}) {
        testpkg::Append(data, reinterpret_cast<const std::uint8_t*>(part.data()), static_cast<std::uint32_t>(part.size()));
      }
      const auto expected = static_cast<std::uint32_t>(std::search(data.begin(), data.end(), marker.begin(), marker.end()) - data.begin());
      MemoryInput input{&data, 0, 1u << 20, SIZE_MAX};
      PackageReader reader(ReadMemory, &input, 0, static_cast<std::uint32_t>(data.size()));
      std::uint32_t before = 0;
      while (const std::uint32_t n = reader.ReadToMarker(nullptr, 1000)) before += n;
      EXPECT_EQ(reader.fault(), PackageFault::None) << "filler " << filler << ", pad " << pad;
      EXPECT_EQ(before, expected) << "filler " << filler << ", pad " << pad;
    }
  }
}

// A stream that decodes to nothing (with such a byte, so that it is long enough for the decoder)
// gives an empty file that still has its time.
TEST(SegmentReader, BytesAfterTheEndCodeBeforeTheMarkerAreIgnored) {
  for (const Bytes& data : {Mixed(5000, 3), Bytes()}) {
    Bytes package = testpkg::FakeStub(64);
    testpkg::AppendMarker(package);
    Bytes packed = testpkg::Implode(data);
    testpkg::Append(packed, testpkg::ToBytes("xyz"));
    testpkg::Append(package, packed);
    testpkg::AppendMarker(package);
    testpkg::AppendTime(package, 42);
    package.resize(package.size() + 4, 0);
    const Read read = ReadAll(package, 0);
    ASSERT_EQ(read.fault, PackageFault::None);
    EXPECT_EQ(read.script, data);
    EXPECT_EQ(read.times[0], 42u);
  }
}

// A stub and the start of one segment, for packages damaged by hand.
Bytes OneSegment(const Bytes& packed) {
  Bytes package = testpkg::FakeStub(300, 10);
  testpkg::AppendMarker(package);
  testpkg::Append(package, packed);
  return package;
}

// Damage of every kind ends in a named fault, never in a piece that looks complete.
TEST(SegmentReader, DamagedPackagesEndInFaults) {
  const Bytes data = Mixed(20000, 11);
  const Bytes good = testpkg::Compose(testpkg::FakeStub(300, 10), {testpkg::ToBytes("[Cmd]\n"), 1}, {{data, 2}});

  {  // a stub without its own copy of the marker: the script's marker is taken as the stub's
    Bytes package = good;
    package[10] = 'X';
    EXPECT_NE(ReadAll(package, 1).fault, PackageFault::None);
  }
  {  // the marker after the segment is cut short: no end where one must be
    Bytes package = OneSegment(testpkg::Implode(data));
    testpkg::Append(package, reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize - 1);
    package.resize(package.size() + 4, 0);
    EXPECT_EQ(ReadAll(package, 0).fault, PackageFault::NoMarker);
  }
  {  // fewer than 8 time bytes after the marker
    Bytes package = OneSegment(testpkg::Implode(data));
    testpkg::AppendMarker(package);
    testpkg::Append(package, Bytes{1, 2, 3, 4, 5});
    package.resize(package.size() + 4, 0);
    EXPECT_EQ(ReadAll(package, 0).fault, PackageFault::ShortFileTime);
  }
  {  // a bad header: the decoder refuses it before writing
    Bytes package = good;
    package[300 + 13] = 7;
    const Read read = ReadAll(package, 1);
    EXPECT_EQ(read.fault, PackageFault::BadSegment);
    EXPECT_EQ(read.decoderResult, 2u);
  }
  {  // a stream cut before its end code, yet followed by a marker
    const Bytes packed = testpkg::Implode(data);
    Bytes package = OneSegment(Bytes(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2)));
    testpkg::AppendMarker(package);
    testpkg::AppendTime(package, 9);
    package.resize(package.size() + 4, 0);
    const Read read = ReadAll(package, 0);
    EXPECT_EQ(read.fault, PackageFault::BadSegment);
    EXPECT_EQ(read.decoderResult, 4u);
  }
  {  // the checksum word is no part of any piece: a marker reaching into it is not found
    Bytes package = OneSegment(testpkg::Implode(data));
    testpkg::AppendMarker(package);  // its last 4 bytes stand where the checksum is
    EXPECT_EQ(ReadAll(package, 0).fault, PackageFault::NoMarker);
  }
  EXPECT_EQ(ReadAll(good, 1, 1u << 20, 70000).fault, PackageFault::None);
  EXPECT_EQ(ReadAll(good, 1, 1000, 5000).fault, PackageFault::ReadFailed);
}

TEST(SegmentReader, AnOutputThatRefusesBytesIsAWriteFault) {
  const Bytes package =
      testpkg::Compose(testpkg::FakeStub(64), {Mixed(9000, 5), 1}, {});
  MemoryInput input{&package, 0, 1u << 20, SIZE_MAX};
  PackageReader reader(ReadMemory, &input, 0, static_cast<std::uint32_t>(package.size() - 4));
  Bytes stub;
  ASSERT_EQ(reader.CopyStub(Collect, &stub), PackageFault::None);
  std::uint64_t time = 0;
  std::uint32_t result = 0;
  EXPECT_EQ(reader.DecodeSegment(Refuse, nullptr, time, result), PackageFault::WriteFailed);
  EXPECT_EQ(reader.CopyStub(Collect, &stub), PackageFault::WriteFailed);  // the fault sticks
}

}  // namespace
