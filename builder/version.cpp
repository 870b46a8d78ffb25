// The version tag and the stamping of the output name, and ReadFileVersion over the platform's
// version reader.
#include "builder/version.h"

#include <cstdio>
#include <cstring>

std::int32_t ReadFileVersion(const char* path, std::uint32_t* major, std::uint32_t* minor,
                             std::uint32_t* build, std::uint32_t* revision) {
  std::uint32_t ms = 0, ls = 0;
  switch (platform::ReadFixedFileVersion(path, ms, ls)) {
    case platform::VersionBlock::None: return 0;
    case platform::VersionBlock::NoFixedPart: return 1;
    case platform::VersionBlock::Fixed: break;
  }
  if (major != nullptr) *major = ms >> 16;
  if (minor != nullptr) *minor = ms & 0xFFFF;
  if (build != nullptr) *build = ls >> 16;
  if (revision != nullptr) *revision = ls & 0xFFFF;
  return 1;
}

char RevisionLetter(std::uint32_t revision) {
  // Package names in use carry the letters of both ranges; outside them the old rule gave "{", "|"
  // (no file name may hold it), "}", "~" and codes beyond one byte, so those wrap instead.
  const std::uint32_t start = revision < 500 ? 0 : 500;
  return static_cast<char>('a' + (revision - start) % 26);
}

void VersionTag(const FileVersion& version, char (&tag)[kVersionTagCapacity]) {
  // Each part is masked to 16 bits, as ReadFileVersion delivers them, so the tag always fits.
  std::snprintf(tag, sizeof tag, "%u_%02u_%02u%c", version.major & 0xFFFFu, version.minor & 0xFFFFu,
                version.build & 0xFFFFu, RevisionLetter(version.revision));
}

StampResult StampOutputName(const char* outputName, const FileVersion& version,
                            char (&stamped)[platform::kPathCapacity]) {
  char tag[kVersionTagCapacity];
  VersionTag(version, tag);
  std::size_t length = 0;
  bool tagUsed = false;
  auto append = [&](const char* text, std::size_t size) {
    // Counted in the packing list's bytes, each at least one character: as platform text the name
    // then still fits the buffer (a byte takes at most three bytes of UTF-8).
    if (length + size > platform::kMaxPathLength) return false;
    std::memcpy(stamped + length, text, size);
    length += size;
    return true;
  };
  for (const char* p = outputName; *p != '\0'; ++p) {
    bool fits = true;
    if (*p != '%') {
      fits = append(p, 1);
    } else if (p[1] == '%') {
      fits = append("%", 1);
      ++p;
    } else if (p[1] == 's' && !tagUsed) {
      fits = append(tag, std::strlen(tag));
      tagUsed = true;
      ++p;
    } else {
      stamped[0] = '\0';
      return StampResult::BadPercent;
    }
    if (!fits) {
      stamped[0] = '\0';
      return StampResult::TooLong;
    }
  }
  stamped[length] = '\0';
  return StampResult::Ok;
}
