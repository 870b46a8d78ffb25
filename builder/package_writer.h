// The package as it is written: every byte of it goes through Append, which buffers, keeps the
// length, and refuses to pass the size limit (offsets in a package are 32-bit and seeks signed, so
// a package must stay below 2 GiB).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "package/layout.h"
#include "platform/platform.h"

// Writes to `file` through `buffer`, or, for a segment compressed ahead of its turn, into `memory`.
struct PackageWriter {
  platform::File* file = nullptr;
  std::vector<std::uint8_t>* memory = nullptr;
  std::uint32_t limit = kMaxPackageSize;  // the most bytes the package may reach
  std::uint32_t length = 0;               // bytes appended so far (written or buffered)
  std::uint32_t buffered = 0;             // of which still in `buffer`
  std::unique_ptr<std::uint8_t[]> buffer;
  platform::Status status;                // why the last write or cut failed
};

enum class WriteResult {
  Ok,
  Failed,    // the system refused a write (a full disk, for instance)
  TooLarge,  // the bytes would take the package past its limit; nothing was appended
};

// Sets up a writer for the open, empty `file`; false when its buffer cannot be allocated.
bool StartPackage(PackageWriter& writer, platform::File& file, std::uint32_t limit);
// Sets up a writer that appends to `memory` (emptied first), up to `limit` bytes.
void StartMemoryPackage(PackageWriter& writer, std::vector<std::uint8_t>& memory, std::uint32_t limit);
WriteResult Append(PackageWriter& writer, const void* bytes, std::uint32_t size);
// Writes out the buffered bytes; the file position is then the package's end. A failure's reason
// is kept in writer.status, as for Append and CutPackage.
bool FlushPackage(PackageWriter& writer);
// Drops everything after the first `length` bytes (a segment to be coded again).
bool CutPackage(PackageWriter& writer, std::uint32_t length);
