// Signed packages: the PE header fields a signer writes, the stub's image checksum, the package
// checksum with the signer's changes taken back out of the sum, the bytes an image digest covers and
// the certificate table's entries.
#include "package/signature.h"

#include <memory>
#include <new>

#include "package/checksum.h"
#include "package/package_reader.h"

namespace {

// The DOS header ends with the offset of the PE signature; after that signature come the 20-byte
// file header (the optional header's size is its last field but one) and the optional header, whose
// data directories (8 bytes each: offset, size) start at 96 in a 32-bit image and 112 in a 64-bit
// one, preceded by their count.
constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint32_t kPeOffsetField = 0x3C;
constexpr std::uint32_t kPeHeadersSize = 24;  // "PE\0\0" and the file header
constexpr std::uint32_t kOptionalSizeField = 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kPe32Directories = 96;
constexpr std::uint32_t kPe32PlusDirectories = 112;
constexpr std::uint32_t kChecksumField = 64;
constexpr std::uint32_t kDirectorySize = 8;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint32_t kLongestOptionalPrefix = kPe32PlusDirectories + (kCertificateDirectory + 1) * kDirectorySize;
// A certificate table holds at least one certificate header (its length, revision and type).
constexpr std::uint32_t kCertificateHeaderSize = 8;

std::uint32_t Le16(const std::uint8_t* bytes) { return bytes[0] | (std::uint32_t{bytes[1]} << 8); }
std::uint32_t Le32(const std::uint8_t* bytes) { return Le16(bytes) | (Le16(bytes + 2) << 16); }

// The random-access callback as the sequential input that the checksum and the package reader take.
struct Sequential {
  PackageReadAt readAt;
  void* context;
  std::uint32_t offset;
  std::uint32_t end;
};

bool ReadSequential(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* input = static_cast<Sequential*>(context);
  const std::uint32_t left = input->end - input->offset;
  got = size < left ? size : left;
  if (got == 0) return true;
  if (!input->readAt(input->context, input->offset, buffer, got)) {
    got = 0;
    return false;
  }
  input->offset += got;
  return true;
}

bool SumRange(PackageReadAt readAt, void* context, std::uint32_t length, std::uint32_t& sum) {
  Sequential input{readAt, context, 0, length};
  return PackageChecksum(ReadSequential, &input, length, sum);
}

bool ReadWord(PackageReadAt readAt, void* context, std::uint32_t offset, std::uint32_t& word) {
  std::uint8_t bytes[4];
  if (!readAt(context, offset, bytes, 4)) return false;
  word = Le32(bytes);
  return true;
}

// What a 32-bit value stored at `offset` adds to the package checksum. Its bytes fall into the words
// from byte offset % 4 on, wrapping into the next word, and each lands at its place in its word:
// that is the value rotated left by that many bytes (a header at an odd offset is still summed
// right).
std::uint32_t WordContribution(std::uint32_t value, std::uint32_t offset) {
  const std::uint32_t shift = 8 * (offset % 4);
  return shift == 0 ? value : (value << shift) | (value >> (32 - shift));
}

// The stub image as it streams past: its image checksum, and its last bytes, where a stub that was
// signed on its own keeps its certificate table. Tables beyond this size are not looked for.
constexpr std::uint32_t kStubTailSize = 64 * 1024;

struct StubSink {
  explicit StubSink(const PeSigningFields& fields) : image(fields) {}
  ImageChecksum image;
  std::unique_ptr<std::uint8_t[]> tail{new (std::nothrow) std::uint8_t[kStubTailSize]};
  std::uint32_t length = 0;

  std::uint8_t At(std::uint32_t offset) const { return tail[offset % kStubTailSize]; }
  std::uint32_t Le32At(std::uint32_t offset) const {
    return At(offset) | (std::uint32_t{At(offset + 1)} << 8) | (std::uint32_t{At(offset + 2)} << 16) |
           (std::uint32_t{At(offset + 3)} << 24);
  }
};

bool FeedStub(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto& sink = *static_cast<StubSink*>(context);
  sink.image.Feed(data, size);
  if (sink.tail) {
    for (std::uint32_t i = 0; i < size; ++i) sink.tail[(sink.length + i) % kStubTailSize] = data[i];
  }
  sink.length += size;
  return true;
}

// A certificate entry's header as signers write it: at least its own size, revision 1.0 or 2.0, and
// one of the four types.
bool CertificateHeaderValid(std::uint32_t length, std::uint32_t revision, std::uint32_t type) {
  return length >= kCertificateHeaderSize && (revision == 0x0100 || revision == 0x0200) && type != 0 && type <= 4;
}

// True when a certificate table starting at `start` ends the stub image exactly: certificates back
// to back, each opening with its length (at least its own 8-byte header), revision 1.0 or 2.0 and a
// known type, each but the last rounded up to a multiple of 8.
bool TableEndsStub(const StubSink& sink, std::uint32_t start) {
  std::uint64_t at = start;
  while (at + kCertificateHeaderSize <= sink.length) {
    const auto offset = static_cast<std::uint32_t>(at);
    const std::uint32_t length = sink.Le32At(offset);
    const std::uint32_t revision = sink.At(offset + 4) | (std::uint32_t{sink.At(offset + 5)} << 8);
    const std::uint32_t type = sink.At(offset + 6) | (std::uint32_t{sink.At(offset + 7)} << 8);
    if (!CertificateHeaderValid(length, revision, type)) return false;
    if (at + length == sink.length) return true;
    at += (std::uint64_t{length} + 7) & ~std::uint64_t{7};
    if (at == sink.length) return true;
  }
  return false;
}

// The header fields as the builder copied them from the stub, which a signer then overwrote.
struct Original {
  std::uint32_t imageChecksum;
  std::uint32_t tableOffset;
  std::uint32_t tableSize;
};

// At most this many stub tables are tried: each is one more chance for damage to pass unseen.
constexpr int kMaxStubTables = 4;

// The header values a package checksum may have been computed with: an unsigned stub's zero entry
// with a zero image checksum, always; and when the stub can be read, its zero entry with the image
// checksum recomputed from its bytes, and for a stub signed on its own the entry of each table that
// ends its image with the image checksum its signer wrote. `summed` bytes of the package are read.
struct Originals {
  Original values[2 + kMaxStubTables] = {{0, 0, 0}};
  int count = 1;
};

bool FindOriginals(PackageReadAt readAt, void* context, const PeSigningFields& fields, std::uint32_t summed,
                   std::uint32_t fieldsEnd, Originals& originals) {
  // The stub image runs up to the second marker.
  Sequential input{readAt, context, 0, summed};
  PackageReader reader(ReadSequential, &input, 0, summed);
  StubSink stub(fields);
  const PackageFault fault = reader.CopyStub(FeedStub, &stub);
  if (fault == PackageFault::ReadFailed) return false;
  if (fault != PackageFault::None) return true;
  originals.values[originals.count++] = {stub.image.Value(), 0, 0};
  if (!stub.tail || stub.length < fieldsEnd + kCertificateHeaderSize) return true;
  const std::uint32_t reach = stub.length < kStubTailSize ? stub.length : kStubTailSize;
  for (std::uint32_t start = (stub.length - kCertificateHeaderSize) & ~7u;
       start >= fieldsEnd && stub.length - start <= reach && originals.count < 2 + kMaxStubTables; start -= 8) {
    if (TableEndsStub(stub, start)) {
      originals.values[originals.count++] = {stub.image.ValueWithEntry(start, stub.length - start), start,
                                             stub.length - start};
    }
    if (start < 8) break;
  }
  return true;
}

// True when the `gapSize` bytes (at most 3) from `boundary` on are zero, as a signer's padding is;
// `readFailed` tells a failed read apart.
bool GapIsZero(PackageReadAt readAt, void* context, std::uint32_t boundary, std::uint32_t gapSize, bool& readFailed) {
  std::uint8_t gap[3] = {0, 0, 0};
  readFailed = gapSize != 0 && !readAt(context, boundary, gap, gapSize);
  return !readFailed && (gap[0] | gap[1] | gap[2]) == 0;
}

// A candidate end of the package: where it ends, the sum of every word before its checksum word
// (as signed), and that checksum word.
struct CandidateEnd {
  bool possible;
  std::uint32_t end;
  std::uint32_t sum;
  std::uint32_t stored;
};

// True when the candidate's checksum matches with the signer's two fields taken out of the sum and
// one of the original values put back in.
bool EndMatches(const CandidateEnd& end, const PeSigningFields& fields, const Originals& originals) {
  if (!end.possible) return false;
  const std::uint32_t signerFields = WordContribution(fields.imageChecksum, fields.checksumOffset) +
                                     WordContribution(fields.tableOffset, fields.entryOffset) +
                                     WordContribution(fields.tableSize, fields.entryOffset + 4);
  const std::uint32_t fieldsCleared = end.sum - signerFields;
  for (int i = 0; i < originals.count; ++i) {
    const Original& original = originals.values[i];
    if (fieldsCleared + WordContribution(original.imageChecksum, fields.checksumOffset) +
            WordContribution(original.tableOffset, fields.entryOffset) +
            WordContribution(original.tableSize, fields.entryOffset + 4) ==
        end.stored) {
      return true;
    }
  }
  return false;
}

// A signer appends its table at a multiple of 8 after padding with zeros, and the package it signed
// ends on a multiple of 4: so the package ends 0 or 4 bytes before the word boundary at or below the
// table, with any bytes between that boundary and the table zero. One pass sums everything before
// the last two candidate words; each candidate end is then tried with the signer's two fields taken
// out and the stub's own values put back in (FindOriginals).
void CheckSigned(PackageReadAt readAt, void* context, PackageExtent& extent) {
  const PeSigningFields& fields = extent.fields;
  const std::uint32_t boundary = fields.tableOffset & ~3u;
  extent.packageEnd = boundary;
  extent.seal = PackageSeal::Mismatch;
  bool readFailed = false;
  if (!GapIsZero(readAt, context, boundary, fields.tableOffset - boundary, readFailed)) {
    if (readFailed) extent.seal = PackageSeal::ReadFailed;
    return;
  }
  // Both fields must lie in what the checksum covers under either candidate, or the table overlaps
  // the header: nothing the builder wrote.
  const std::uint32_t checksumEnd = fields.checksumOffset + 4;
  const std::uint32_t entryEnd = fields.entryOffset + kDirectorySize;
  const std::uint32_t fieldsEnd = checksumEnd > entryEnd ? checksumEnd : entryEnd;
  if (boundary < 8 || boundary - 8 < fieldsEnd) return;

  const std::uint32_t summed = boundary - 8;
  std::uint32_t sum = 0, nextToLast = 0, last = 0;
  Originals originals;
  if (!SumRange(readAt, context, summed, sum) || !ReadWord(readAt, context, summed, nextToLast) ||
      !ReadWord(readAt, context, summed + 4, last) ||
      !FindOriginals(readAt, context, fields, summed, fieldsEnd, originals)) {
    extent.seal = PackageSeal::ReadFailed;
    return;
  }
  // No padding first: a package already on a multiple of 8 gets none.
  const CandidateEnd ends[] = {
      {true, boundary, sum + nextToLast, last},
      {last == 0, boundary - 4, sum, nextToLast},
  };
  for (const CandidateEnd& end : ends) {
    if (EndMatches(end, fields, originals)) {
      extent.seal = PackageSeal::Signed;
      extent.packageEnd = end.end;
      return;
    }
  }
}

}  // namespace

bool ReadPeSigningFields(PackageReadAt readAt, void* context, std::uint32_t fileLength, PeSigningFields& fields) {
  std::uint8_t dos[kDosHeaderSize];
  if (fileLength < kDosHeaderSize || !readAt(context, 0, dos, kDosHeaderSize) || dos[0] != 'M' || dos[1] != 'Z') {
    return false;
  }
  const std::uint64_t peOffset = Le32(dos + kPeOffsetField);
  std::uint8_t pe[kPeHeadersSize + 2];
  if (peOffset + sizeof pe > fileLength ||
      !readAt(context, static_cast<std::uint32_t>(peOffset), pe, sizeof pe) || pe[0] != 'P' || pe[1] != 'E' ||
      pe[2] != 0 || pe[3] != 0) {
    return false;
  }
  const std::uint32_t magic = Le16(pe + kPeHeadersSize);
  std::uint32_t directories = 0;
  if (magic == kPe32Magic) {
    directories = kPe32Directories;
  } else if (magic == kPe32PlusMagic) {
    directories = kPe32PlusDirectories;
  } else {
    return false;
  }
  const std::uint32_t entry = directories + kCertificateDirectory * kDirectorySize;
  const std::uint32_t needed = entry + kDirectorySize;
  const std::uint64_t optional = peOffset + kPeHeadersSize;
  std::uint8_t header[kLongestOptionalPrefix];
  if (Le16(pe + kOptionalSizeField) < needed || optional + needed > fileLength ||
      !readAt(context, static_cast<std::uint32_t>(optional), header, needed)) {
    return false;
  }
  // The directory count precedes the directories; one that stops before the certificate table's
  // means the entry is not there, whatever the bytes in its place hold.
  if (Le32(header + directories - 4) <= kCertificateDirectory) return false;
  fields.checksumOffset = static_cast<std::uint32_t>(optional) + kChecksumField;
  fields.imageChecksum = Le32(header + kChecksumField);
  fields.entryOffset = static_cast<std::uint32_t>(optional) + entry;
  fields.tableOffset = Le32(header + entry);
  fields.tableSize = Le32(header + entry + 4);
  return true;
}

void ImageChecksum::Feed(const std::uint8_t* data, std::uint32_t size) {
  for (std::uint32_t i = 0; i < size; ++i, ++length_) {
    std::uint32_t byte = data[i];
    if (length_ - fields_.checksumOffset < 4 || length_ - fields_.entryOffset < kDirectorySize) byte = 0;
    if (length_ % 2 == 0) {
      low_ = byte;
    } else {
      sum_ += low_ | (byte << 8);
      sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
  }
}

std::uint32_t ImageChecksum::ValueWithEntry(std::uint32_t tableOffset, std::uint32_t tableSize) const {
  std::uint32_t sum = sum_;
  if (length_ % 2 != 0) sum += low_;
  // Folding with the carry added back is addition modulo 0xFFFF that gives 0 only when every word
  // was 0: the result does not depend on the order, so the entry's bytes may come last.
  for (std::uint32_t i = 0; i < kDirectorySize; ++i) {
    const std::uint32_t at = fields_.entryOffset + i;
    const std::uint32_t value = i < 4 ? tableOffset : tableSize;
    if (at < length_) sum += ((value >> (8 * (i % 4))) & 0xFF) << (8 * (at % 2));
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + length_;
}

bool TableEndsFile(const PeSigningFields& fields, std::uint32_t fileLength) {
  return fields.tableSize >= kCertificateHeaderSize &&
         std::uint64_t{fields.tableOffset} + fields.tableSize == fileLength;
}

PackageExtent CheckPackageSeal(PackageReadAt readAt, void* context, std::uint32_t fileLength) {
  PackageExtent extent;
  extent.hasEntry = ReadPeSigningFields(readAt, context, fileLength, extent.fields) &&
                    (extent.fields.tableOffset != 0 || extent.fields.tableSize != 0);
  // The bound holds for the package as built; a signer's padding and table may take the file past
  // it. A signed package ends at most 7 bytes before its table (CheckSigned).
  if (extent.hasEntry && TableEndsFile(extent.fields, fileLength)) {
    extent.signedLayout = true;
    if (extent.fields.tableOffset > std::uint64_t{kMaxPackageSize} + 7) {
      extent.seal = PackageSeal::TooLarge;
      return extent;
    }
    CheckSigned(readAt, context, extent);
    if (extent.packageEnd > kMaxPackageSize) extent.seal = PackageSeal::TooLarge;
    return extent;
  }

  // As built: the checksum word is the file's last.
  extent.packageEnd = fileLength;
  if (fileLength > kMaxPackageSize) {
    extent.seal = PackageSeal::TooLarge;
    return extent;
  }
  if (fileLength < kChecksumSize) {
    extent.seal = PackageSeal::Mismatch;
    return extent;
  }
  std::uint32_t sum = 0, stored = 0;
  if (!SumRange(readAt, context, fileLength - kChecksumSize, sum) ||
      !ReadWord(readAt, context, fileLength - kChecksumSize, stored)) {
    extent.seal = PackageSeal::ReadFailed;
  } else if (sum == stored) {
    extent.seal = PackageSeal::Unsigned;
  } else {
    extent.seal = extent.hasEntry ? PackageSeal::StrayEntry : PackageSeal::Mismatch;
  }
  return extent;
}

ImageDigestLayout LayoutImageDigest(const PeSigningFields& fields) {
  // Each field's start and end, cut to the table's start; the entry lies after the image checksum.
  const std::uint64_t table = fields.tableOffset;
  const auto cut = [table](std::uint64_t offset, std::uint64_t floor) {
    const std::uint64_t at = offset < table ? offset : table;
    return static_cast<std::uint32_t>(at > floor ? at : floor);
  };
  const std::uint32_t checksumStart = cut(fields.checksumOffset, 0);
  const std::uint32_t checksumEnd = cut(std::uint64_t{fields.checksumOffset} + 4, checksumStart);
  const std::uint32_t entryStart = cut(fields.entryOffset, checksumEnd);
  const std::uint32_t entryEnd = cut(std::uint64_t{fields.entryOffset} + kDirectorySize, entryStart);
  ImageDigestLayout layout;
  layout.ranges[0] = {0, checksumStart};
  layout.ranges[1] = {checksumEnd, entryStart - checksumEnd};
  layout.ranges[2] = {entryEnd, fields.tableOffset - entryEnd};
  layout.zeroPadding = (8 - fields.tableOffset % 8) % 8;
  return layout;
}

bool WalkCertificateTable(const std::uint8_t* table, std::uint32_t size, std::vector<CertificateEntry>& entries) {
  entries.clear();
  std::uint32_t at = 0;
  while (at < size) {
    if (size - at < kCertificateHeaderSize || entries.size() == kMaxCertificateEntries) return false;
    const std::uint32_t length = Le32(table + at);
    if (!CertificateHeaderValid(length, Le16(table + at + 4), Le16(table + at + 6)) || length > size - at) {
      return false;
    }
    entries.push_back({at + kCertificateHeaderSize, length - kCertificateHeaderSize,
                       static_cast<std::uint16_t>(Le16(table + at + 6))});
    const std::uint64_t padded = (std::uint64_t{length} + 7) & ~std::uint64_t{7};
    // The last entry may end the table without its padding.
    if (padded >= size - at) return true;
    at += static_cast<std::uint32_t>(padded);
  }
  return !entries.empty();
}
