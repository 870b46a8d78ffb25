// ExtractSegment: the package reader's faults turned into the installer's fatal errors.
#include "package/segment.h"

#include <cstdio>
#include <cstring>

#include "app/fatal.h"
#include "app/process_state.h"

PackageFileReader::PackageFileReader(platform::File& file, std::uint32_t chunk, std::uint32_t position,
                                     ReadProgress progress)
    : file_(file),
      offset_(position),
      total_(chunk),
      progress_(progress),
      seekFailed_(!platform::Seek(file, position)),
      reader_(Read, this, position, chunk) {}

bool PackageFileReader::Read(void* context, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& got) {
  auto* self = static_cast<PackageFileReader*>(context);
  got = 0;
  if (self->seekFailed_ || !platform::ReadFile(self->file_, buffer, size, got)) return false;
  self->offset_ += got;
  if (self->progress_ != nullptr) self->progress_(self->offset_, self->total_);
  return true;
}

namespace {

bool WriteToFile(void* context, const std::uint8_t* data, std::uint32_t size) {
  return platform::WriteFile(*static_cast<platform::File*>(context), data, size);
}

[[noreturn]] void Fail(int code, const char* reason, const char* scriptPath) {
  std::snprintf(lastMessage, sizeof lastMessage, "%s", reason);
  ReportFatal(code, scriptPath);
}

}  // namespace

void ExtractSegment(PackageFileReader& package, platform::File& outputFile, std::uint32_t& position,
                    SegmentMode mode, const char* scriptPath) {
  PackageReader& reader = package.reader();
  if (mode == kStubMode) {
    const PackageFault fault = reader.CopyStub(WriteToFile, &outputFile);
    if (fault != PackageFault::None) Fail(kFatalFile, DescribePackageFault(fault), scriptPath);
    outputFile.Close();
    position = reader.Position();
    return;
  }

  std::uint64_t fileTime = 0;
  std::uint32_t decoderResult = 0;
  const PackageFault fault = reader.DecodeSegment(WriteToFile, &outputFile, fileTime, decoderResult);
  switch (fault) {
    case PackageFault::None:
      break;
    case PackageFault::ReadFailed:
      Fail(kFatalFile, "error reading input", scriptPath);
    case PackageFault::WriteFailed:
      Fail(kFatalFile, DescribePackageFault(fault), scriptPath);
    case PackageFault::BadSegment:
      // The decoder's own result box, as the memory-to-memory decoder shows it; an unattended run
      // never waits for a click.
      if (decoderResult != 0 && silentMode == 0 && RunStatus.builderMode == 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%u", decoderResult);
        platform::ShowMessageBox(text, "Value of uiRep", platform::kMbOk);
      }
      Fail(kFatalCodec, "Error unzipping to memory from memory.", scriptPath);
    case PackageFault::NoMarker:
    case PackageFault::ShortFileTime:
      Fail(kFatalCodec, DescribePackageFault(fault), scriptPath);
  }
  // A file whose time cannot be set is not the file that was packed: refused like a failed write.
  if (!platform::SetFileTimes(outputFile, fileTime)) {
    Fail(kFatalFile, "the stored file time cannot be set", scriptPath);
  }
  outputFile.Close();
  position = reader.Position();
}
