// The running package's checksum and pieces, with the package reader's faults turned into the
// installer's failures.
#include "installer/segment.h"

#include <cstring>
#include <vector>

#include "script/printable.h"

namespace {

// The package file for the checksum pass, and the reason its last read failed.
struct ReadAt {
  platform::File* file;
  platform::Status status;
};

bool ReadFileAt(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
  auto& input = *static_cast<ReadAt*>(context);
  if (!(input.status = platform::Seek(*input.file, offset))) return false;
  while (size != 0) {
    std::uint32_t got = 0;
    if (!(input.status = platform::ReadFile(*input.file, buffer, size, got))) return false;
    // The file ended before the offsets that its own header gives.
    if (got == 0) {
      input.status = platform::Status::Error(0);
      return false;
    }
    buffer += got;
    size -= got;
  }
  return true;
}

}  // namespace

Failure VerifyPackage(platform::File& file, PackageExtent& extent, PackageReadAt readAt, void* context) {
  static const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...";
  // No package the builder writes is this large: the file was added to or made up, and is refused
  // as damaged before a byte of it is read.
  static const char kTooLarge[] = "the package is 2 GiB or larger, more than a package can hold: it is damaged";
  std::uint32_t length = 0;
  if (const platform::Status sized = platform::SeekEnd(file, length); !sized) {
    if (sized.error() == platform::kErrorTooLarge) {
      extent = PackageExtent();
      extent.seal = PackageSeal::TooLarge;
      return Fail(kFatalChecksum, kTooLarge);
    }
    return Fail(kFatalFile, std::string(kReadFailed) + " " + platform::ErrorText(sized));
  }
  ReadAt input{&file, platform::Status()};
  extent = readAt != nullptr ? CheckPackageSeal(readAt, context, length) : CheckPackageSeal(ReadFileAt, &input, length);
  switch (extent.seal) {
    case PackageSeal::Unsigned:
    case PackageSeal::Signed:
      return Failure();
    case PackageSeal::ReadFailed:
      return Fail(kFatalFile, std::string(kReadFailed) + " " + platform::ErrorText(input.status));
    case PackageSeal::StrayEntry:
      return Fail(kFatalChecksum,
                  "the certificate-table entry does not end at the end of the file: the package is damaged");
    case PackageSeal::TooLarge:
      return Fail(kFatalChecksum, kTooLarge);
    case PackageSeal::Mismatch:
      break;
  }
  return Fail(kFatalChecksum, "the package checksum does not match");
}

PackageFileReader::PackageFileReader(platform::File& file, std::uint32_t start, std::uint32_t end,
                                     ReadProgress progress, void* progressContext)
    : file_(file),
      offset_(start),
      end_(end),
      progress_(progress),
      progressContext_(progressContext),
      status_(platform::Seek(file, start)),
      reader_(Read, this, start, end) {}

bool PackageFileReader::Read(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* self = static_cast<PackageFileReader*>(context);
  got = 0;
  if (!self->status_ || !(self->status_ = platform::ReadFile(self->file_, buffer, size, got))) return false;
  self->offset_ += got;
  if (self->progress_ != nullptr) self->progress_(self->progressContext_, self->offset_, self->end_);
  return true;
}

namespace {

// Where a decoded piece goes: its file, and for the setup script also memory, up to a bound; and
// why the last write failed.
struct Destination {
  platform::File* file;
  std::string* text;
  std::uint32_t limit;
  bool overLimit;
  platform::Status written;
};

bool Store(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto& destination = *static_cast<Destination*>(context);
  if (destination.text != nullptr) {
    if (size > destination.limit - destination.text->size()) {
      destination.overLimit = true;
      return false;
    }
    destination.text->append(reinterpret_cast<const char*>(data), size);
  }
  destination.written = platform::WriteFile(*destination.file, data, size);
  return static_cast<bool>(destination.written);
}

Failure DecodeInto(PackageFileReader& package, platform::File& outputFile, Destination& destination,
                   const std::string& name, std::string* timeNote) {
  PackageReader& reader = package.reader();
  std::uint64_t fileTime = 0;
  std::uint32_t decoderResult = 0;
  const PackageFault fault = reader.DecodeSegment(Store, &destination, fileTime, decoderResult);
  switch (fault) {
    case PackageFault::None:
      break;
    case PackageFault::ReadFailed:
      return Fail(kFatalFile, "error reading input: " + platform::ErrorText(package.status()));
    case PackageFault::WriteFailed:
      if (destination.overLimit) {
        return Fail(kFatalScript, name + " is larger than " + std::to_string(destination.limit) + " bytes");
      }
      return Fail(kFatalFile, name + ": " + DescribePackageFault(fault) + ": " + platform::ErrorText(destination.written));
    case PackageFault::BadSegment: {
      Failure failure = Fail(kFatalCodec, "Error unzipping to memory from memory. " + EscapeControls(name) +
                                              ": " + DescribePackageFault(fault));
      failure.decoderResult = decoderResult;
      return failure;
    }
    case PackageFault::NoMarker:
    case PackageFault::ShortFileTime:
      return Fail(kFatalCodec, name + ": " + DescribePackageFault(fault));
  }
  // The time is the one part of a piece that a file system may refuse: Windows sets no time with the
  // top bit set, and what else a file system takes depends on it. The file's bytes are what was
  // packed, so a refused time is a note, as for qorpack extract, and never a failure: no check
  // before the install can know what the temporary folder's file system takes, so a refusal here
  // could not be that check's verdict too, and a package would pass verify and fail on the machine.
  // (A time that is taken but kept coarser, as FAT keeps it, is no news worth a line per file.)
  if (const platform::Status set = platform::SetFileTimes(outputFile, fileTime); !set && timeNote != nullptr) {
    *timeNote = "the stored file time cannot be set: " + platform::ErrorText(set);
  }
  outputFile.Close();
  return Failure();
}

bool WriteToFile(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto& destination = *static_cast<Destination*>(context);
  destination.written = platform::WriteFile(*destination.file, data, size);
  return static_cast<bool>(destination.written);
}

}  // namespace

Failure ExtractSegment(PackageFileReader& package, platform::File& outputFile, SegmentMode mode,
                       const std::string& name, std::string* timeNote) {
  if (mode == kStubMode) {
    Destination destination{&outputFile, nullptr, 0, false, platform::Status()};
    const PackageFault fault = package.reader().CopyStub(WriteToFile, &destination);
    if (fault == PackageFault::WriteFailed || fault == PackageFault::ReadFailed) {
      const platform::Status why = fault == PackageFault::ReadFailed ? package.status() : destination.written;
      return Fail(kFatalFile, name + ": " + DescribePackageFault(fault) + ": " + platform::ErrorText(why));
    }
    if (fault != PackageFault::None) return Fail(kFatalFile, name + ": " + DescribePackageFault(fault));
    outputFile.Close();
    return Failure();
  }
  Destination destination{&outputFile, nullptr, 0, false, platform::Status()};
  return DecodeInto(package, outputFile, destination, name, timeNote);
}

Failure ExtractSegmentToMemory(PackageFileReader& package, platform::File& outputFile, std::string& text,
                               std::uint32_t limit, const std::string& name, std::string* timeNote) {
  text.clear();
  Destination destination{&outputFile, &text, limit, false, platform::Status()};
  return DecodeInto(package, outputFile, destination, name, timeNote);
}

namespace {

struct Comparison {
  platform::File* file;
  std::vector<std::uint8_t> buffer;
  bool differs;
};

bool CompareChunk(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto& comparison = *static_cast<Comparison*>(context);
  while (size > 0) {
    const std::uint32_t chunk = size < comparison.buffer.size() ? size : static_cast<std::uint32_t>(comparison.buffer.size());
    std::uint32_t got = 0;
    if (!platform::ReadFile(*comparison.file, comparison.buffer.data(), chunk, got) || got != chunk ||
        std::memcmp(comparison.buffer.data(), data, chunk) != 0) {
      comparison.differs = true;
      return false;
    }
    data += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace

bool SegmentMatchesFile(PackageFileReader& package, platform::File& file) {
  Comparison comparison{&file, std::vector<std::uint8_t>(64 * 1024), false};
  std::uint64_t fileTime = 0;
  std::uint32_t decoderResult = 0;
  if (package.reader().DecodeSegment(CompareChunk, &comparison, fileTime, decoderResult) != PackageFault::None) {
    return false;
  }
  // The file must end where the segment does.
  std::uint8_t extra = 0;
  std::uint32_t got = 0;
  return !comparison.differs && platform::ReadFile(file, &extra, 1, got) && got == 0;
}
