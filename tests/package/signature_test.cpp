// Signed packages in memory: small packages with a real PE header at the front, signed the way a
// signer does it (two header fields rewritten, zero padding, a certificate table at the end), then
// judged: which are read as signed, where the package ends, and that damage is still caught.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "package/signature.h"
#include "tests/installer/test_package.h"

namespace {

using testpkg::Bytes;

// The header as a linker writes it: the PE signature at 0x80, the optional header 24 bytes later.
constexpr std::uint32_t kPeAt = 0x80;
constexpr std::uint32_t kOptional = kPeAt + 24;
constexpr std::uint32_t kChecksumAt = kOptional + 64;

std::uint32_t EntryAt(bool pe32Plus) { return kOptional + (pe32Plus ? 112 : 96) + 4 * 8; }

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void Put16(Bytes& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool ReadAt(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
  const Bytes& bytes = *static_cast<const Bytes*>(context);
  if (offset > bytes.size() || size > bytes.size() - offset) return false;
  std::memcpy(buffer, bytes.data() + offset, size);
  return true;
}

PackageExtent Check(const Bytes& bytes) {
  return CheckPackageSeal(ReadAt, const_cast<Bytes*>(&bytes), static_cast<std::uint32_t>(bytes.size()));
}

PeSigningFields Fields(const Bytes& bytes) {
  PeSigningFields fields;
  EXPECT_TRUE(ReadPeSigningFields(ReadAt, const_cast<Bytes*>(&bytes), static_cast<std::uint32_t>(bytes.size()),
                                  fields));
  return fields;
}

enum class StubChecksum { Correct, Zero, Stale };

// A stub of 1024 bytes with the marker in its data and the image checksum a linker would write.
Bytes PeStub(bool pe32Plus, StubChecksum checksum) {
  Bytes stub = testpkg::FakeStub(1024, 700);
  std::memset(stub.data(), 0, 0x200);
  stub[0] = 'M';
  stub[1] = 'Z';
  Put32(stub, 0x3C, kPeAt);
  std::memcpy(stub.data() + kPeAt, "PE\0\0", 4);
  Put16(stub, kPeAt + 4, 0x14C);
  Put32(stub, kPeAt + 8, 0x5F3759DF);  // the link time: a byte nobody but the linker writes
  Put16(stub, kPeAt + 20, pe32Plus ? 240 : 224);
  Put16(stub, kOptional, pe32Plus ? 0x20B : 0x10B);
  Put32(stub, kOptional + (pe32Plus ? 108 : 92), 16);
  const PeSigningFields fields = Fields(stub);
  ImageChecksum image(fields);
  image.Feed(stub.data(), static_cast<std::uint32_t>(stub.size()));
  Put32(stub, kChecksumAt, checksum == StubChecksum::Correct ? image.Value()
                           : checksum == StubChecksum::Zero  ? 0
                                                             : image.Value() + 2);
  return stub;
}

// The image checksum straight from its definition, over a whole file, for stubs that were signed.
std::uint32_t ReferenceImageChecksum(Bytes bytes) {
  const std::size_t length = bytes.size();
  Put32(bytes, kChecksumAt, 0);
  if (length % 2 != 0) bytes.push_back(0);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < length; i += 2) sum += bytes[i] | (bytes[i + 1] << 8);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + length);
}

// A stub signed on its own: its last 24 bytes are its table, one certificate or two (13 bytes,
// rounded up to 16, then 8), and its image checksum is the one its signer wrote.
Bytes PresignedStub(bool twoCertificates) {
  Bytes stub = PeStub(false, StubChecksum::Correct);
  const std::uint32_t lengths[2][2] = {{24, 0}, {13, 8}};
  for (std::uint32_t i = 0, at = 1000; i < 2 && lengths[twoCertificates][i] != 0; ++i, at += 16) {
    Put32(stub, at, lengths[twoCertificates][i]);
    Put16(stub, at + 4, 0x0200);
    Put16(stub, at + 6, 2);
  }
  Put32(stub, EntryAt(false), 1000);
  Put32(stub, EntryAt(false) + 4, 24);
  Put32(stub, kChecksumAt, ReferenceImageChecksum(stub));
  return stub;
}

Bytes Package(const Bytes& stub) {
  const std::string script = "[Cmd]\r\nFileName=setup.exe\r\n[Files]\r\nFile01=a.txt,a\r\n";
  return testpkg::Compose(stub, {testpkg::ToBytes(script), 0x01D5000000000000ull},
                          {{testpkg::ToBytes("payload payload payload"), 7}});
}

// Signs as a signer does: the new image checksum, `padding` zeros, then a table of `tableSize`
// bytes whose first word is its length. A signed package is signed again over its unsigned part,
// which replaces the table.
Bytes Sign(Bytes bytes, std::uint32_t padding, std::uint32_t tableSize, std::uint32_t newChecksum = 0xC0DE5161) {
  const PackageExtent before = Check(bytes);
  if (before.signedLayout) bytes.resize(before.fields.tableOffset);
  const PeSigningFields fields = Fields(bytes);
  bytes.resize(bytes.size() + padding, 0);
  const auto table = static_cast<std::uint32_t>(bytes.size());
  for (std::uint32_t i = 0; i < tableSize; ++i) bytes.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
  Put32(bytes, table, tableSize);
  Put32(bytes, fields.entryOffset, table);
  Put32(bytes, fields.entryOffset + 4, tableSize);
  Put32(bytes, fields.checksumOffset, newChecksum);
  return bytes;
}

struct Case {
  const char* name;
  std::function<Bytes()> make;
  PackageSeal seal;
  int end;  // expected package end: -1 for the file length
};

TEST(Signature, PackagesSignedOrNot) {
  const Bytes plain = Package(PeStub(false, StubChecksum::Correct));
  const auto plainEnd = static_cast<int>(plain.size());
  const Bytes signedOnce = Sign(plain, 4, 1448);
  // A stub signed before the build: its table ends the stub, inside the package.
  const Bytes presigned = Package(PresignedStub(false));
  const auto presignedEnd = static_cast<int>(presigned.size());

  const Case cases[] = {
      {"unsigned", [&] { return plain; }, PackageSeal::Unsigned, -1},
      {"signed, 4 bytes of padding", [&] { return signedOnce; }, PackageSeal::Signed, plainEnd},
      {"signed, no padding", [&] { return Sign(plain, 0, 1448); }, PackageSeal::Signed, plainEnd},
      {"signed, 3 bytes of padding", [&] { return Sign(plain, 3, 64); }, PackageSeal::Signed, plainEnd},
      {"signed, 7 bytes of padding", [&] { return Sign(plain, 7, 64); }, PackageSeal::Signed, plainEnd},
      {"signed, the smallest table", [&] { return Sign(plain, 4, 8); }, PackageSeal::Signed, plainEnd},
      {"signed from a 64-bit stub", [&] { return Sign(Package(PeStub(true, StubChecksum::Correct)), 4, 100); },
       PackageSeal::Signed, plainEnd},
      {"signed, the stub had no image checksum",
       [&] { return Sign(Package(PeStub(false, StubChecksum::Zero)), 4, 100); }, PackageSeal::Signed, plainEnd},
      {"signed twice: the table replaced by a larger one",
       [&] { return Sign(signedOnce, 0, 2896, 0x1234); }, PackageSeal::Signed, plainEnd},
      {"signed twice: the same size, another checksum", [&] { return Sign(signedOnce, 0, 1448, 7); },
       PackageSeal::Signed, plainEnd},
      // Nothing tells what a wrong image checksum was: such a stub's packages are refused once signed.
      {"signed, the stub's image checksum was wrong",
       [&] { return Sign(Package(PeStub(false, StubChecksum::Stale)), 4, 100); }, PackageSeal::Mismatch, -2},
      {"unsigned, the stub had been signed on its own", [&] { return presigned; }, PackageSeal::Unsigned, -1},
      {"signed, the stub had been signed on its own", [&] { return Sign(presigned, 4, 200); }, PackageSeal::Signed,
       presignedEnd},
      {"signed, the stub had been signed on its own with two certificates",
       [&] { return Sign(Package(PresignedStub(true)), 4, 200); }, PackageSeal::Signed, presignedEnd},
      {"signed, the stub's own table changed",
       [&] {
         Bytes bytes = Sign(presigned, 4, 200);
         bytes[1004] = 0x01;  // its revision
         return bytes;
       },
       PackageSeal::Mismatch, -2},
      {"padding that is not zero",
       [&] {
         Bytes bytes = Sign(plain, 7, 64);
         bytes[plain.size() + 5] = 1;
         return bytes;
       },
       PackageSeal::Mismatch, -2},
      {"an entry one byte short of the end",
       [&] {
         Bytes bytes = signedOnce;
         Put32(bytes, EntryAt(false) + 4, 1447);
         return bytes;
       },
       PackageSeal::StrayEntry, -1},
      {"an entry past the end",
       [&] {
         Bytes bytes = signedOnce;
         Put32(bytes, EntryAt(false) + 4, 1456);
         return bytes;
       },
       PackageSeal::StrayEntry, -1},
      {"a table too short for its header",
       [&] {
         Bytes bytes = Sign(plain, 4, 4);
         return bytes;
       },
       PackageSeal::StrayEntry, -1},
      {"an entry pointing into the payload, reaching the end",
       [&] {
         Bytes bytes = signedOnce;
         Put32(bytes, EntryAt(false), static_cast<std::uint32_t>(plain.size() - 24));
         Put32(bytes, EntryAt(false) + 4, static_cast<std::uint32_t>(bytes.size() - (plain.size() - 24)));
         return bytes;
       },
       PackageSeal::Mismatch, -2},
      {"an entry overlapping the header itself",
       [&] {
         Bytes bytes = signedOnce;
         Put32(bytes, EntryAt(false), 16);
         Put32(bytes, EntryAt(false) + 4, static_cast<std::uint32_t>(bytes.size() - 16));
         return bytes;
       },
       PackageSeal::Mismatch, -2},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const Bytes bytes = test.make();
    const PackageExtent extent = Check(bytes);
    EXPECT_EQ(extent.seal, test.seal);
    if (test.end == -1) {
      EXPECT_EQ(extent.packageEnd, bytes.size());
    } else if (test.end >= 0) {
      EXPECT_EQ(extent.packageEnd, static_cast<std::uint32_t>(test.end));
    }
  }
}

// Every changed byte of a signed package is refused, but for the image checksum, which a signer
// rewrites, and the signer's own table, which the package checksum does not cover.
TEST(Signature, EveryChangedByteOfASignedPackageIsRefused) {
  const Bytes plain = Package(PeStub(false, StubChecksum::Correct));
  const Bytes signedPackage = Sign(plain, 4, 64);
  ASSERT_EQ(Check(signedPackage).seal, PackageSeal::Signed);
  const std::uint32_t table = Check(signedPackage).fields.tableOffset;
  int refused = 0, accepted = 0;
  for (std::uint32_t at = 0; at < signedPackage.size(); ++at) {
    const bool signerField = at - kChecksumAt < 4;
    Bytes changed = signedPackage;
    changed[at] ^= 0x10;
    const PackageSeal seal = Check(changed).seal;
    if (signerField || at >= table) {
      EXPECT_EQ(seal, PackageSeal::Signed) << "offset " << at;
      ++accepted;
    } else {
      EXPECT_TRUE(seal == PackageSeal::Mismatch || seal == PackageSeal::StrayEntry) << "offset " << at;
      ++refused;
    }
  }
  EXPECT_EQ(accepted, 4 + 64);
  EXPECT_GT(refused, 1000);
}

// The image digest covers the file up to the table but the image checksum and the entry, then zeros
// up to a multiple of 8; a table that overlaps the fields cuts the ranges, never wraps them.
TEST(Signature, ImageDigestLayout) {
  struct LayoutCase {
    const char* name;
    std::uint32_t checksum, entry, table;
    ByteRange ranges[3];
    std::uint32_t padding;
  };
  const LayoutCase cases[] = {
      {"a 32-bit header, the table on a multiple of 8", 216, 280, 4096, {{0, 216}, {220, 60}, {288, 3808}}, 0},
      {"a 64-bit header", 216, 296, 4096, {{0, 216}, {220, 76}, {304, 3792}}, 0},
      {"a table on no multiple of 8", 216, 280, 4099, {{0, 216}, {220, 60}, {288, 3811}}, 5},
      {"a table inside the entry", 216, 280, 284, {{0, 216}, {220, 60}, {284, 0}}, 4},
      {"a table before the image checksum", 216, 280, 100, {{0, 100}, {100, 0}, {100, 0}}, 4},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    PeSigningFields fields;
    fields.checksumOffset = c.checksum;
    fields.entryOffset = c.entry;
    fields.tableOffset = c.table;
    const ImageDigestLayout layout = LayoutImageDigest(fields);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(layout.ranges[i].offset, c.ranges[i].offset) << i;
      EXPECT_EQ(layout.ranges[i].size, c.ranges[i].size) << i;
    }
    EXPECT_EQ(layout.zeroPadding, c.padding);
  }
}

// Entries back to back, each on a multiple of 8; the last may end the table without its padding.
TEST(Signature, CertificateTableWalk) {
  const auto entry = [](std::uint32_t length, std::uint16_t type, std::uint32_t padded,
                        std::uint16_t revision = 0x200) {
    Bytes bytes(padded, 0);
    Put32(bytes, 0, length);
    Put16(bytes, 4, revision);
    Put16(bytes, 6, type);
    return bytes;
  };
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) testpkg::Append(all, part);
    return all;
  };
  struct WalkCase {
    const char* name;
    Bytes table;
    bool valid;
    std::vector<std::uint32_t> entries;  // offset, size, type of each
  };
  const WalkCase cases[] = {
      {"one signature, padded", entry(1533, 2, 1536), true, {8, 1525, 2}},
      {"one signature, its padding left out", entry(1533, 2, 1533), true, {8, 1525, 2}},
      {"a certificate, then a signature", join({entry(13, 1, 16), entry(24, 2, 24)}), true, {8, 5, 1, 24, 16, 2}},
      {"revision 1.0", entry(16, 2, 16, 0x100), true, {8, 8, 2}},
      {"the smallest entry", entry(8, 2, 8), true, {8, 0, 2}},
      {"empty", Bytes(), false, {}},
      {"a length below its header", entry(7, 2, 8), false, {}},
      {"a length past the table", entry(17, 2, 16), false, {}},
      {"an unknown revision", entry(16, 2, 16, 0x300), false, {}},
      {"an unknown type", entry(16, 5, 16), false, {}},
      {"bytes after the last entry", join({entry(16, 2, 16), Bytes(4, 0)}), false, {}},
      {"nine entries", join({entry(8, 2, 8), entry(8, 2, 8), entry(8, 2, 8), entry(8, 2, 8), entry(8, 2, 8),
                             entry(8, 2, 8), entry(8, 2, 8), entry(8, 2, 8), entry(8, 2, 8)}),
       false, {}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CertificateEntry> entries;
    ASSERT_EQ(WalkCertificateTable(c.table.data(), static_cast<std::uint32_t>(c.table.size()), entries), c.valid);
    if (!c.valid) continue;
    std::vector<std::uint32_t> found;
    for (const CertificateEntry& e : entries) found.insert(found.end(), {e.offset, e.size, e.type});
    EXPECT_EQ(found, c.entries);
  }
}

}  // namespace
