// Damaged packages: every changed byte of a small package is caught by its checksum, and with the
// checksum made to match again, reading the damaged package ends in a fault or a clean end, never in
// a crash (the sanitizer build watches the reads).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "package/checksum.h"
#include "package/package_reader.h"
#include "platform/platform.h"
#include "tests/installer/test_package.h"

namespace {

using testpkg::Bytes;

struct MemoryInput {
  const Bytes* data;
  std::size_t offset;
};

bool ReadMemory(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* input = static_cast<MemoryInput*>(context);
  const std::size_t left = input->data->size() - input->offset;
  got = static_cast<std::uint32_t>(left < size ? left : size);
  std::memcpy(buffer, input->data->data() + input->offset, got);
  input->offset += got;
  return true;
}

bool Count(void* context, const std::uint8_t*, std::uint32_t size) {
  *static_cast<std::uint64_t*>(context) += size;
  return true;
}

// Reads the stub, the script and `files` segments; the fault of the first piece that fails.
PackageFault ReadPackage(const Bytes& package, int files) {
  MemoryInput input{&package, 0};
  PackageReader reader(ReadMemory, &input, 0, static_cast<std::uint32_t>(package.size() - 4));
  std::uint64_t written = 0;
  PackageFault fault = reader.CopyStub(Count, &written);
  for (int i = 0; i <= files && fault == PackageFault::None; ++i) {
    std::uint64_t time = 0;
    std::uint32_t result = 0;
    fault = reader.DecodeSegment(Count, &written, time, result);
  }
  return fault;
}

std::uint32_t VerifyFile(const Bytes& package, const std::string& path) {
  {
    platform::File out;
    EXPECT_TRUE(platform::OpenFile(path.c_str(), platform::OpenMode::CreateAlways, out));
    EXPECT_TRUE(platform::WriteFile(out, package.data(), static_cast<std::uint32_t>(package.size())));
  }
  platform::File in;
  EXPECT_TRUE(platform::OpenFile(path.c_str(), platform::OpenMode::ReadShared, in));
  std::uint32_t sum = 0;
  const auto length = static_cast<std::uint32_t>(package.size() - kChecksumSize);
  EXPECT_TRUE(PackageChecksum(platform::ReadFromFile, &in, length, sum));
  std::uint8_t word[kChecksumSize];
  std::copy(package.end() - kChecksumSize, package.end(), word);
  return LoadChecksumWord(word) == sum ? 1 : 0;
}

TEST(SegmentDamage, EveryChangedByteIsCaughtAndReadingEndsCleanly) {
  const std::string script = "[Cmd]\r\nFileName=setup.exe\r\n[Files]\r\nFile01=a.bin,a\r\nFile02=b.txt,b\r\n";
  Bytes binary;
  for (int i = 0; i < 400; ++i) binary.push_back(static_cast<std::uint8_t>(i * 7 ^ i >> 3));
  const Bytes package = testpkg::Compose(testpkg::FakeStub(48, 5), {testpkg::ToBytes(script), 0x01D5000000000000ull},
                                         {{binary, 1}, {testpkg::ToBytes("text text text text"), 2}});
  char directory[platform::kPathCapacity];
  ASSERT_TRUE(platform::TempDirectory(directory));
  const std::string path = std::string(directory) + "segment_damage_test.pkg";
  ASSERT_EQ(VerifyFile(package, path), 1u);
  ASSERT_EQ(ReadPackage(package, 2), PackageFault::None);

  int faults = 0;
  for (std::size_t at = 0; at + 4 < package.size(); ++at) {
    for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
      Bytes damaged = package;
      damaged[at] ^= flip;
      // A single changed byte changes one word of the sum, and nothing can compensate it.
      ASSERT_EQ(VerifyFile(damaged, path), 0u) << "byte " << at;
      testpkg::SealChecksum(damaged);
      if (ReadPackage(damaged, 2) != PackageFault::None) ++faults;
    }
  }
  std::remove(path.c_str());
  // Most damage shows as a fault; the rest (a changed literal byte, a changed time) still reads.
  EXPECT_GT(faults, 0);
}

}  // namespace
