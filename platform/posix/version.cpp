// The fixed file version on POSIX: no version.dll here, so the PE resource is read directly.
#include "platform/pe_version.h"
#include "platform/platform.h"

namespace platform {

namespace {

bool ReadAt(void* source, std::uint32_t offset, void* buffer, std::uint32_t size) {
  File& file = *static_cast<File*>(source);
  std::uint32_t got = 0;
  return Seek(file, offset) && ReadFile(file, buffer, size, got) && got == size;
}

}  // namespace

VersionBlock ReadFixedFileVersion(const char* path, std::uint32_t& versionMS, std::uint32_t& versionLS) {
  File file;
  std::uint32_t size = 0;
  if (!OpenFile(path, OpenMode::ReadShared, file) || !SeekEnd(file, size)) return VersionBlock::None;
  return ReadPeFileVersion(ReadAt, &file, size, versionMS, versionLS);
}

}  // namespace platform
