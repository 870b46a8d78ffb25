// The version stamp: a file's fixed file version (ReadFileVersion), the short tag made from it
// (VersionTag), and the output name that carries the tag (StampOutputName). The builder stamps its
// output name with the version of its version file; the installer requires a version of its first
// payload file.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The four parts of a fixed file version, each 0 to 65535.
struct FileVersion {
  std::uint32_t major;     // high 16 bits of dwFileVersionMS
  std::uint32_t minor;     // low 16 bits of dwFileVersionMS
  std::uint32_t build;     // high 16 bits of dwFileVersionLS
  std::uint32_t revision;  // low 16 bits of dwFileVersionLS
};

// Reads the file version (not the product version) of the file at `path` into the parts that are
// not null. Returns 0 when the file has no version resource or cannot be read, else 1; a version
// resource without a fixed part returns 1 and leaves every part as the caller set it.
std::int32_t ReadFileVersion(const char* path, std::uint32_t* major, std::uint32_t* minor,
                             std::uint32_t* build, std::uint32_t* revision);

// The tag's last character for a revision: revisions 0-25 and 500-525 give "a" to "z". Every other
// revision gives a letter too, counting on from the start of its range modulo 26 (26 gives "a",
// 499 gives "f", 526 gives "a"), so the tag never holds a character that a file name cannot.
char RevisionLetter(std::uint32_t revision);

// Room for the longest tag, "65535_65535_65535z", and its terminator.
constexpr std::uint32_t kVersionTagCapacity = 19;
// Writes "major_minor_buildL" ("%d_%02d_%02d" and the revision letter): 2.1.4.0 gives "2_01_04a".
void VersionTag(const FileVersion& version, char (&tag)[kVersionTagCapacity]);

enum class StampResult {
  Ok,
  BadPercent,  // a "%" that is neither the first "%s" nor part of "%%"
  TooLong,     // the stamped name has more than 259 characters
};
// Puts the output name for the packing list's `outputName` into `stamped`. A name without "%" is
// used unchanged; otherwise its first "%s" becomes the tag of `version`, "%%" becomes "%", and any
// other "%" (a second "%s" included) is refused: the name is a name, not a format.
StampResult StampOutputName(const char* outputName, const FileVersion& version,
                            char (&stamped)[platform::kPathCapacity]);
