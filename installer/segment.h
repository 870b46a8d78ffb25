// Reading the running package from its file: its checksum, and one piece after another (the stub
// image, or a decoded segment with its stored file time) into a file or into memory, front to back
// through one PackageFileReader. Failures come back as values with the code the installer reports.
#pragma once

#include <cstdint>
#include <string>

#include "package/package_reader.h"
#include "package/signature.h"
#include "platform/platform.h"
#include "script/failure.h"

// Checks the package checksum of `file`: the word at its end against the sum of everything before
// it, or for a signed package the word before the signer's padding and certificate table, with the
// header fields the signer rewrote counted as they were built. Code 2 when it does not match (a file
// shorter than the word included), when a certificate-table entry that does not end the file
// comes with no matching checksum (damage, like any other changed byte), or when the package is
// larger than kMaxPackageSize (extent.seal TooLarge, nothing read); code 3 when the file cannot be
// read. `extent` tells where the package ends and what the signature looks like. Leaves the file
// position anywhere. `readAt` with `context`, when given, reads the file instead (one that also hashes
// what passes).
Failure VerifyPackage(platform::File& file, PackageExtent& extent, PackageReadAt readAt = nullptr,
                      void* context = nullptr);

// Told the package offset reached after every read of the package, and the package's size.
using ReadProgress = void (*)(void* context, std::uint32_t done, std::uint32_t total);

// The package file as the reader's input: reads `file` from offset `start` (where it seeks first) up
// to offset `end`, where the checksum word begins. One object serves consecutive ExtractSegment
// calls, so the package is read once however many pieces it holds. A failed seek shows as a failed
// read at the first piece.
class PackageFileReader {
 public:
  PackageFileReader(platform::File& file, std::uint32_t start, std::uint32_t end,
                    ReadProgress progress = nullptr, void* progressContext = nullptr);
  PackageFileReader(const PackageFileReader&) = delete;
  PackageFileReader& operator=(const PackageFileReader&) = delete;

  PackageReader& reader() { return reader_; }
  // Why the last read of the package failed (success while none has).
  const platform::Status& status() const { return status_; }

 private:
  static bool Read(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got);

  platform::File& file_;
  std::uint32_t offset_;
  std::uint32_t end_;
  ReadProgress progress_;
  void* progressContext_;
  platform::Status status_;
  PackageReader reader_;
};

enum SegmentMode : int {
  kStubMode = 0,     // the stub image: everything before the second marker
  kSegmentMode = 1,  // one compressed segment, its marker and its file time
};

// Writes the next piece into `outputFile` (open, empty, created by the caller) and closes it. Stub
// mode copies the stub image; segment mode decodes the segment and gives the file its stored time
// as creation, last-access and last-write time. A failed read or write, or a stub whose end cannot
// be found gives code 3; a segment that does not decode, or whose marker or time is missing, code 5
// (with the decoder's result when it has one). `name` names the piece in the reason. A stored time
// that the file system does not take fails nothing: the file keeps the time of its extraction, and
// `timeNote`, when given, receives why (it is left alone when the time is set).
Failure ExtractSegment(PackageFileReader& package, platform::File& outputFile, SegmentMode mode,
                       const std::string& name, std::string* timeNote = nullptr);

// Decodes the next segment into `text` as well as into `outputFile` (the setup script: the installer
// reads it from memory, never back from disk). Fails as ExtractSegment does, and with code 4 when
// the decoded script would pass `limit` bytes.
Failure ExtractSegmentToMemory(PackageFileReader& package, platform::File& outputFile, std::string& text,
                               std::uint32_t limit, const std::string& name, std::string* timeNote = nullptr);

// True when `file`, read from its current position, holds exactly what the next segment of `package`
// decodes to, and nothing more; compared 64 KB at a time, in constant memory. A read failure on
// either side, or a segment that does not decode, counts as a difference.
bool SegmentMatchesFile(PackageFileReader& package, platform::File& file);
