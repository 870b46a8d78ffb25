// ExtractSegment: writes one piece of the running package (the stub image, or one decoded segment
// with its stored file time) into a file, reading the package front to back through a
// PackageFileReader. Every failure ends the process through ReportFatal.
#pragma once

#include <cstdint>

#include "package/package_reader.h"
#include "platform/platform.h"

enum SegmentMode : int {
  kStubMode = 0,     // the stub image: everything before the second marker
  kSegmentMode = 1,  // one compressed segment, its marker and its file time
};

// Told the package offset reached after every read of the package, and the package's size.
using ReadProgress = void (*)(std::uint32_t done, std::uint32_t total);

// The package file as the reader's input: reads `file` from `position` (where it seeks first) up to
// `chunk`, the package length less the checksum word. One object serves consecutive ExtractSegment
// calls, so the package is read once however many pieces it holds. A failed seek shows as a failed
// read at the first piece.
class PackageFileReader {
 public:
  PackageFileReader(platform::File& file, std::uint32_t chunk, std::uint32_t position,
                    ReadProgress progress = nullptr);
  PackageFileReader(const PackageFileReader&) = delete;
  PackageFileReader& operator=(const PackageFileReader&) = delete;

  PackageReader& reader() { return reader_; }

 private:
  static bool Read(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got);

  platform::File& file_;
  std::uint32_t offset_;
  std::uint32_t total_;
  ReadProgress progress_;
  bool seekFailed_;
  PackageReader reader_;
};

// Writes the piece at `position` into `outputFile` (open, empty, created by the caller) and closes
// it. Stub mode copies the stub image; segment mode decodes the segment and gives the file its
// stored time as creation, last-access and last-write time. `position` must be where `package`
// stands and is moved to the start of the next piece. Never returns on failure: a failed read or
// write, a time that cannot be set, or a stub whose end cannot be found ends with code 3; a segment
// that does not decode, or whose marker or time is missing, with code 5 (`scriptPath` names the
// script for the error text). The package file's own position is the reader's business: it reads
// ahead.
void ExtractSegment(PackageFileReader& package, platform::File& outputFile, std::uint32_t& position,
                    SegmentMode mode, const char* scriptPath);
