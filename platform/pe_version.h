// A reader of the fixed file version in a PE file's version resource (32- and 64-bit images), in
// portable code: the native build stamps output names with it where Windows would ask version.dll.
// It reads only the headers and the few resource bytes it needs, never the whole file.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Reads `size` bytes at `offset` of the file into `buffer`; false when the file is shorter or the
// read fails.
using PeReadAt = bool (*)(void* source, std::uint32_t offset, void* buffer, std::uint32_t size);

// Finds the version resource the way the Windows loader does (type 16, name 1; language neutral,
// else US English, else the first one) and its fixed part: the value of the root block, at least
// 52 bytes long and carrying the signature FEEF04BD. `fileSize` bounds every offset. Anything
// malformed (no PE image, offsets outside the file, a truncated resource) gives None; nothing
// outside `source` is ever touched, whatever the bytes.
platform::VersionBlock ReadPeFileVersion(PeReadAt readAt, void* source, std::uint32_t fileSize,
                                         std::uint32_t& versionMS, std::uint32_t& versionLS);

// The same over a PE image in memory (the fuzz target and the tests use it).
platform::VersionBlock ReadPeFileVersion(const std::uint8_t* image, std::uint32_t size,
                                         std::uint32_t& versionMS, std::uint32_t& versionLS);
