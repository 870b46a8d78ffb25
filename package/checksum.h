// The package checksum: the 32-bit word sum that closes every package, computed over everything
// before it. The builder writes it; the installer verifies its own file with it before reading.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum ChecksumMode : std::int32_t {
  kChecksumVerify = 0,  // compare the computed sum with the stored last 4 bytes
  kChecksumWrite = 1,   // replace the last 4 bytes (a placeholder) with the computed sum
};

// Sums the little-endian 32-bit words of `file` up to its last 4 bytes (modulo 2^32) in one
// sequential pass through a fixed 50000-byte buffer, then verifies or writes the sum at the end.
// Verify returns 1 when the stored word equals the sum and 0 when it does not (or when the file is
// shorter than 4 bytes, which is no package); write returns 1. The file position ends at the end of
// the file. A failed read or write ends the process through ReportFatal(3, scriptPath): callers
// open `file` for reading (verify) or reading and writing (write) and never see an error.
std::uint32_t PackageChecksum(platform::File& file, std::int32_t mode, const char* scriptPath);
