// PackageChecksum on files of known content, verified and written as the installer and the builder
// do: the word sum, its chunking, and what it detects.
#include "package/checksum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum { kChecksumVerify, kChecksumWrite };

class ChecksumTest : public ::testing::Test {
 protected:
  std::string path_ = ::testing::TempDir() + "checksum_test.bin";
  void TearDown() override { std::remove(path_.c_str()); }

  void WriteBytes(const Bytes& bytes) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  Bytes ReadBytes() {
    Bytes bytes;
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
    return bytes;
  }
  // Verify: 1 when the stored word matches the sum of everything before it. Write: puts the sum
  // into the last 4 bytes and gives 1.
  std::uint32_t Run(int mode, std::uint32_t* endPosition = nullptr) {
    platform::File file;
    EXPECT_TRUE(platform::OpenFile(path_.c_str(),
                                   mode == kChecksumVerify ? platform::OpenMode::ReadShared
                                                           : platform::OpenMode::ReadWrite,
                                   file));
    std::uint32_t length = 0;
    EXPECT_TRUE(platform::SeekEnd(file, length));
    if (length < kChecksumSize) return 0;
    std::uint32_t sum = 0;
    EXPECT_TRUE(platform::Seek(file, 0));
    EXPECT_TRUE(PackageChecksum(platform::ReadFromFile, &file, length - kChecksumSize, sum));
    std::uint8_t word[kChecksumSize];
    std::uint32_t result = 1;
    if (mode == kChecksumVerify) {
      std::uint32_t got = 0;
      EXPECT_TRUE(platform::ReadFile(file, word, kChecksumSize, got));
      result = got == kChecksumSize && LoadChecksumWord(word) == sum ? 1 : 0;
    } else {
      StoreChecksumWord(sum, word);
      EXPECT_TRUE(platform::WriteFile(file, word, kChecksumSize));
    }
    if (endPosition != nullptr) {
      // Reading nothing more proves the position is the end.
      std::uint8_t byte;
      std::uint32_t got = 1;
      EXPECT_TRUE(platform::ReadFile(file, &byte, 1, got));
      *endPosition = got;
    }
    return result;
  }
};

// The sum as the package format defines it: every whole word before the last 4 bytes.
std::uint32_t WordSum(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size() - 4; i += 4) {
    sum += bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (std::uint32_t{bytes[i + 3]} << 24);
  }
  return sum;
}

void StoreWord(Bytes& bytes, std::uint32_t word) {
  const std::size_t at = bytes.size() - 4;
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(word >> (8 * i));
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

TEST_F(ChecksumTest, FourByteFileSumsNothing) {
  WriteBytes({0, 0, 0, 0});
  EXPECT_EQ(Run(kChecksumVerify), 1u);
  WriteBytes({1, 0, 0, 0});
  EXPECT_EQ(Run(kChecksumVerify), 0u);
  WriteBytes({9, 9, 9, 9});
  EXPECT_EQ(Run(kChecksumWrite), 1u);
  EXPECT_EQ(ReadBytes(), (Bytes{0, 0, 0, 0}));
}

TEST_F(ChecksumTest, EightByteFileStoresItsFirstWord) {
  WriteBytes({0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0});
  EXPECT_EQ(Run(kChecksumWrite), 1u);
  EXPECT_EQ(ReadBytes(), (Bytes{0x78, 0x56, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Run(kChecksumVerify), 1u);
}

TEST_F(ChecksumTest, ChunkBoundariesDoNotChangeTheSum) {
  // One full 50000-byte chunk and one more word; then sizes around two chunks.
  for (const std::size_t size : {50000u + 4 + 4, 50000u + 4, 100000u + 4, 100000u + 12, 4096u + 4}) {
    Bytes bytes = Pattern(size, static_cast<std::uint32_t>(size));
    WriteBytes(bytes);
    std::uint32_t end = 1;
    EXPECT_EQ(Run(kChecksumWrite, &end), 1u);
    EXPECT_EQ(end, 0u) << "position after writing";
    StoreWord(bytes, WordSum(bytes));
    EXPECT_EQ(ReadBytes(), bytes) << size;
    EXPECT_EQ(Run(kChecksumVerify, &end), 1u);
    EXPECT_EQ(end, 0u) << "position after verifying";
  }
}

TEST_F(ChecksumTest, SumWrapsModulo2To32) {
  Bytes bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0};
  WriteBytes(bytes);
  EXPECT_EQ(Run(kChecksumWrite), 1u);
  EXPECT_EQ(ReadBytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 0x01, 0, 0, 0}));
}

TEST_F(ChecksumTest, EveryChangedByteIsDetected) {
  Bytes bytes = Pattern(256 + 4, 7);
  StoreWord(bytes, WordSum(bytes));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    Bytes changed = bytes;
    changed[i] ^= 0x10;
    WriteBytes(changed);
    EXPECT_EQ(Run(kChecksumVerify), 0u) << "byte " << i;
  }
}

TEST_F(ChecksumTest, PartialLastWordCountsItsMissingBytesAsZero) {
  // 50003 summed bytes: the last word is 3 bytes of the file and one zero, never a byte left in the
  // buffer by the first chunk.
  Bytes bytes = Pattern(50003 + 4, 3);
  Bytes padded(bytes.begin(), bytes.end() - 4);
  padded.push_back(0);
  padded.insert(padded.end(), 4, 0);
  StoreWord(bytes, WordSum(padded));
  WriteBytes(bytes);
  EXPECT_EQ(Run(kChecksumVerify), 1u);
}

TEST_F(ChecksumTest, FileShorterThanAWordIsNoPackage) {
  WriteBytes({0, 0, 0});
  EXPECT_EQ(Run(kChecksumVerify), 0u);
  WriteBytes({});
  EXPECT_EQ(Run(kChecksumVerify), 0u);
}

// An input that fails, or ends before the length it was given, gives no sum.
TEST(PackageChecksumInput, FailedOrShortInputGivesNoSum) {
  struct Source {
    std::uint32_t left;
    bool fails;
  };
  const auto read = [](void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
    auto& source = *static_cast<Source*>(context);
    got = size < source.left ? size : source.left;
    std::memset(buffer, 1, got);
    source.left -= got;
    return !source.fails;
  };
  std::uint32_t sum = 0;
  Source shortSource{7, false};
  EXPECT_FALSE(PackageChecksum(read, &shortSource, 8, sum));
  Source failing{100, true};
  EXPECT_FALSE(PackageChecksum(read, &failing, 8, sum));
  Source whole{8, false};
  EXPECT_TRUE(PackageChecksum(read, &whole, 8, sum));
  EXPECT_EQ(sum, 0x02020202u);
}

}  // namespace
