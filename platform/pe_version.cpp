// The PE version-resource reader. Every field read is checked against the file size first, so a
// damaged or hostile file ends in None rather than in a wild read.
#include "platform/pe_version.h"

#include <cstring>

namespace {

using platform::VersionBlock;

constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr std::uint32_t kLanguageNeutral = 0;
constexpr std::uint32_t kLanguageUsEnglish = 0x409;
constexpr std::uint32_t kFixedInfoSize = 52;        // VS_FIXEDFILEINFO
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
// The key "VS_VERSION_INFO" and its terminator, in UTF-16, is 32 bytes; longer keys are not version
// blocks of any compiler's making.
constexpr std::uint32_t kMaxKeyBytes = 64;

std::uint32_t Le32(const std::uint8_t* b) {
  return b[0] | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}

struct Reader {
  PeReadAt readAt;
  void* source;
  std::uint32_t fileSize;

  bool Bytes(std::uint32_t offset, void* buffer, std::uint32_t size) const {
    if (offset > fileSize || size > fileSize - offset) return false;
    return readAt(source, offset, buffer, size);
  }
  bool U16(std::uint32_t offset, std::uint32_t& value) const {
    std::uint8_t b[2];
    if (!Bytes(offset, b, 2)) return false;
    value = b[0] | (std::uint32_t{b[1]} << 8);
    return true;
  }
  bool U32(std::uint32_t offset, std::uint32_t& value) const {
    std::uint8_t b[4];
    if (!Bytes(offset, b, 4)) return false;
    value = Le32(b);
    return true;
  }
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

struct Image {
  std::uint32_t sectionTable;
  std::uint32_t sectionCount;
  std::uint32_t resourceRva;
};

bool ReadHeaders(const Reader& r, Image& image) {
  std::uint32_t mz = 0, peOffset = 0, signature = 0;
  if (!r.U16(0, mz) || mz != 0x5A4D || !r.U32(0x3C, peOffset)) return false;
  if (!r.U32(peOffset, signature) || signature != 0x00004550) return false;
  if (peOffset > 0xFFFFFFFFu - 24) return false;
  const std::uint32_t coff = peOffset + 4;
  const std::uint32_t optional = peOffset + 24;
  std::uint32_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (!r.U16(coff + 2, sectionCount) || !r.U16(coff + 16, optionalSize) || !r.U16(optional, magic)) {
    return false;
  }
  // The data directories follow the fixed fields, which are 24 bytes longer in a 64-bit image.
  std::uint32_t countOffset = 0;
  if (magic == 0x10B) {
    countOffset = 92;
  } else if (magic == 0x20B) {
    countOffset = 108;
  } else {
    return false;
  }
  std::uint32_t directoryCount = 0;
  if (optionalSize < countOffset + 4 || !r.U32(optional + countOffset, directoryCount)) return false;
  const std::uint32_t directoryOffset = countOffset + 4 + 8 * kResourceDirectoryIndex;
  if (directoryCount <= kResourceDirectoryIndex || optionalSize < directoryOffset + 8) return false;
  std::uint32_t resourceSize = 0;
  if (!r.U32(optional + directoryOffset, image.resourceRva) ||
      !r.U32(optional + directoryOffset + 4, resourceSize)) {
    return false;
  }
  if (image.resourceRva == 0 || resourceSize == 0) return false;
  image.sectionTable = optional + optionalSize;
  image.sectionCount = sectionCount;
  return true;
}

// The file offset of `size` bytes at image address `rva`, when a section holds all of them in the
// file. (Bytes past a section's raw data would be zeros in memory; no version block lies there.)
bool RvaToOffset(const Reader& r, const Image& image, std::uint32_t rva, std::uint32_t size,
                 std::uint32_t& offset) {
  for (std::uint32_t i = 0; i < image.sectionCount; ++i) {
    std::uint8_t raw[40];
    if (!r.Bytes(image.sectionTable + 40 * i, raw, sizeof raw)) return false;
    const Section s{Le32(raw + 12), Le32(raw + 8), Le32(raw + 16), Le32(raw + 20)};
    const std::uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
    const std::uint32_t within = rva - s.virtualAddress;
    if (within > s.rawSize || size > s.rawSize - within) return false;
    if (s.rawOffset > 0xFFFFFFFFu - within) return false;
    offset = s.rawOffset + within;
    // A file cut short holds no usable resource: the loader would not map it either.
    return offset <= r.fileSize && size <= r.fileSize - offset;
  }
  return false;
}

// One entry of a resource directory: its name or id, and the offset of what it points to from the
// start of the resource section, with the high bit telling a subdirectory.
struct Entry {
  std::uint32_t name;
  std::uint32_t target;
};

enum class Pick { ById, Language };

// Finds the entry for `wanted` among a directory's id entries; for Pick::Language, falls back to
// US English and then to the first entry, as the loader chooses a language.
bool FindEntry(const Reader& r, std::uint32_t directory, std::uint32_t wanted, Pick pick, Entry& found) {
  std::uint32_t named = 0, ids = 0;
  if (!r.U16(directory + 12, named) || !r.U16(directory + 14, ids)) return false;
  const std::uint32_t total = named + ids;
  bool haveEnglish = false, haveFirst = false;
  Entry english{}, first{};
  for (std::uint32_t i = 0; i < total; ++i) {
    Entry e;
    const std::uint32_t at = directory + 16 + 8 * i;
    if (!r.U32(at, e.name) || !r.U32(at + 4, e.target)) return false;
    if (!haveFirst) {
      first = e;
      haveFirst = true;
    }
    if (i < named) continue;  // named entries come first and never match an id
    if (e.name == wanted) {
      found = e;
      return true;
    }
    if (pick == Pick::Language && e.name == kLanguageUsEnglish && !haveEnglish) {
      english = e;
      haveEnglish = true;
    }
  }
  if (pick != Pick::Language) return false;
  if (haveEnglish) {
    found = english;
    return true;
  }
  if (haveFirst) {
    found = first;
    return true;
  }
  return false;
}

bool Subdirectory(const Entry& e, std::uint32_t base, std::uint32_t& directory) {
  if ((e.target & 0x80000000u) == 0) return false;
  const std::uint32_t offset = e.target & 0x7FFFFFFFu;
  if (base > 0xFFFFFFFFu - offset) return false;
  directory = base + offset;
  return true;
}

}  // namespace

platform::VersionBlock ReadPeFileVersion(PeReadAt readAt, void* source, std::uint32_t fileSize,
                                         std::uint32_t& versionMS, std::uint32_t& versionLS) {
  const Reader r{readAt, source, fileSize};
  Image image{};
  if (!ReadHeaders(r, image)) return VersionBlock::None;
  std::uint32_t base = 0;
  if (!RvaToOffset(r, image, image.resourceRva, 16, base)) return VersionBlock::None;

  // Three levels: type, name, language; the last entry points to the data entry. The directory
  // offsets are relative to the resource section's start in the file, so they stay in bounds of
  // that section only through the size checks of every read.
  Entry type{}, name{}, language{};
  std::uint32_t names = 0, languages = 0;
  if (!FindEntry(r, base, kResourceTypeVersion, Pick::ById, type) || !Subdirectory(type, base, names) ||
      !FindEntry(r, names, kVersionResourceName, Pick::ById, name) ||
      !Subdirectory(name, base, languages) ||
      !FindEntry(r, languages, kLanguageNeutral, Pick::Language, language) ||
      (language.target & 0x80000000u) != 0 || base > 0xFFFFFFFFu - language.target) {
    return VersionBlock::None;
  }
  std::uint32_t dataRva = 0, dataSize = 0;
  if (!r.U32(base + language.target, dataRva) || !r.U32(base + language.target + 4, dataSize)) {
    return VersionBlock::None;
  }
  std::uint32_t block = 0;
  if (dataSize < 6 || !RvaToOffset(r, image, dataRva, dataSize, block)) return VersionBlock::None;

  // VS_VERSIONINFO: wLength, wValueLength, wType, the key in UTF-16 with its terminator, padding to
  // a 4-byte boundary, then the value: the fixed part.
  std::uint32_t blockLength = 0, valueLength = 0;
  if (!r.U16(block, blockLength) || !r.U16(block + 2, valueLength)) return VersionBlock::None;
  const std::uint32_t limit = blockLength < dataSize ? blockLength : dataSize;
  std::uint32_t keyEnd = 6;
  for (;;) {
    std::uint32_t unit = 1;
    if (keyEnd + 2 > limit || keyEnd - 6 >= kMaxKeyBytes || !r.U16(block + keyEnd, unit)) {
      return VersionBlock::NoFixedPart;
    }
    keyEnd += 2;
    if (unit == 0) break;
  }
  const std::uint32_t value = (keyEnd + 3) & ~3u;
  if (valueLength < kFixedInfoSize || value + kFixedInfoSize > limit) return VersionBlock::NoFixedPart;
  std::uint32_t signature = 0, ms = 0, ls = 0;
  if (!r.U32(block + value, signature) || !r.U32(block + value + 8, ms) || !r.U32(block + value + 12, ls)) {
    return VersionBlock::NoFixedPart;
  }
  if (signature != kFixedInfoSignature) return VersionBlock::NoFixedPart;
  versionMS = ms;
  versionLS = ls;
  return VersionBlock::Fixed;
}

namespace {

struct Memory {
  const std::uint8_t* bytes;
  std::uint32_t size;
};

bool ReadMemory(void* source, std::uint32_t offset, void* buffer, std::uint32_t size) {
  const Memory& m = *static_cast<const Memory*>(source);
  if (offset > m.size || size > m.size - offset) return false;
  std::memcpy(buffer, m.bytes + offset, size);
  return true;
}

}  // namespace

platform::VersionBlock ReadPeFileVersion(const std::uint8_t* image, std::uint32_t size,
                                         std::uint32_t& versionMS, std::uint32_t& versionLS) {
  Memory memory{image, size};
  return ReadPeFileVersion(ReadMemory, &memory, size, versionMS, versionLS);
}
