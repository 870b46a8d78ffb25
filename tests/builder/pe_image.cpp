// Builds the PE images of pe_image.h: a DOS header, the PE headers with 16 data directories, and a
// ".rsrc" section with a three-level resource directory.
#include "pe_image.h"

namespace pe_test {

namespace {

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

constexpr std::uint32_t kPeOffset = 0x40;
constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionFile = 0x200;

// The resource section: type directory, name directory, language directory, data entries, blocks.
Bytes ResourceSection(const ImageSpec& spec) {
  Bytes r;
  const std::uint32_t count = static_cast<std::uint32_t>(spec.languages.size());
  const std::uint32_t nameDir = 16 + 8, languageDir = nameDir + 16 + 8;
  const std::uint32_t dataEntries = languageDir + 16 + 8 * count;
  std::uint32_t blocks = dataEntries + 16 * count;
  Put16(r, 14, 1);
  Put32(r, 16, spec.resourceType);
  Put32(r, 20, 0x80000000u | nameDir);
  Put16(r, nameDir + 14, 1);
  Put32(r, nameDir + 16, spec.resourceName);
  Put32(r, nameDir + 20, 0x80000000u | languageDir);
  Put16(r, languageDir + 14, static_cast<std::uint32_t>(count));
  for (std::uint32_t i = 0; i < count; ++i) {
    const VersionResource& v = spec.languages[i];
    Put32(r, languageDir + 16 + 8 * i, v.language);
    Put32(r, languageDir + 16 + 8 * i + 4, dataEntries + 16 * i);
    // VS_VERSIONINFO: header, key, padding to 40, the fixed part.
    const char16_t key[] = u"VS_VERSION_INFO";
    const std::uint32_t length = 40 + v.valueLength;
    Put16(r, blocks, length);
    Put16(r, blocks + 2, v.valueLength);
    Put16(r, blocks + 4, 0);
    for (std::uint32_t k = 0; k < 16; ++k) Put16(r, blocks + 6 + 2 * k, key[k]);
    Put16(r, blocks + 38, 0);
    if (v.valueLength >= 16) {
      Put32(r, blocks + 40, v.signature);
      Put32(r, blocks + 44, 0x00010000u);
      Put32(r, blocks + 48, v.versionMS);
      Put32(r, blocks + 52, v.versionLS);
    }
    r.resize(blocks + length);
    Put32(r, dataEntries + 16 * i, kSectionRva + blocks);
    Put32(r, dataEntries + 16 * i + 4, length);
    blocks = (blocks + length + 3) & ~3u;
  }
  r.resize((r.size() + 0x1FF) & ~std::size_t{0x1FF});
  return r;
}

}  // namespace

Bytes MakeImage(const ImageSpec& spec) {
  Bytes b(kSectionFile, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPeOffset);
  Put32(b, kPeOffset, 0x00004550);
  const std::uint32_t coff = kPeOffset + 4, optional = kPeOffset + 24;
  const std::uint32_t countOffset = spec.wide ? 108 : 92;
  const std::uint32_t optionalSize = countOffset + 4 + 16 * 8;
  Put16(b, coff, spec.wide ? 0x8664 : 0x14C);
  Put16(b, coff + 2, 1);
  Put16(b, coff + 16, optionalSize);
  Put16(b, optional, spec.wide ? 0x20B : 0x10B);
  Put32(b, optional + countOffset, 16);
  const Bytes resources = ResourceSection(spec);
  Put32(b, optional + countOffset + 4 + 16, kSectionRva);
  Put32(b, optional + countOffset + 4 + 20, static_cast<std::uint32_t>(resources.size()));
  const std::uint32_t section = optional + optionalSize;
  const char name[] = ".rsrc";
  for (int i = 0; i < 5; ++i) b[section + i] = static_cast<std::uint8_t>(name[i]);
  Put32(b, section + 8, static_cast<std::uint32_t>(resources.size()));
  Put32(b, section + 12, kSectionRva);
  Put32(b, section + 16, static_cast<std::uint32_t>(resources.size()));
  Put32(b, section + 20, kSectionFile);
  b.resize(kSectionFile);
  b.insert(b.end(), resources.begin(), resources.end());
  return b;
}

}  // namespace pe_test
