// Buffered, bounded appends to the package: the encoder hands out 2048-byte pieces, and one write
// call per piece would cost more than the copy into a larger buffer.
#include "builder/package_writer.h"

#include <cstring>
#include <new>

namespace {

constexpr std::uint32_t kWriteBuffer = 64 * 1024;

}  // namespace

bool StartPackage(PackageWriter& writer, platform::File& file, std::uint32_t limit) {
  writer.file = &file;
  writer.limit = limit;
  writer.length = 0;
  writer.buffered = 0;
  writer.buffer.reset(new (std::nothrow) std::uint8_t[kWriteBuffer]);
  return writer.buffer != nullptr;
}

void StartMemoryPackage(PackageWriter& writer, std::vector<std::uint8_t>& memory, std::uint32_t limit) {
  memory.clear();
  writer.file = nullptr;
  writer.memory = &memory;
  writer.limit = limit;
  writer.length = 0;
  writer.buffered = 0;
}

WriteResult Append(PackageWriter& writer, const void* bytes, std::uint32_t size) {
  // Compared as room left: length + size could wrap around.
  if (size > writer.limit - writer.length) return WriteResult::TooLarge;
  const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
  if (writer.memory != nullptr) {
    try {
      writer.memory->insert(writer.memory->end(), p, p + size);
    } catch (const std::bad_alloc&) {
      writer.status = platform::Status::Error(0);
      return WriteResult::Failed;
    }
    writer.length += size;
    return WriteResult::Ok;
  }
  while (size > 0) {
    if (writer.buffered == kWriteBuffer && !FlushPackage(writer)) return WriteResult::Failed;
    std::uint32_t n = kWriteBuffer - writer.buffered;
    if (n > size) n = size;
    std::memcpy(writer.buffer.get() + writer.buffered, p, n);
    writer.buffered += n;
    writer.length += n;
    p += n;
    size -= n;
  }
  return WriteResult::Ok;
}

bool FlushPackage(PackageWriter& writer) {
  if (writer.buffered == 0 || writer.memory != nullptr) return true;
  writer.status = platform::WriteFile(*writer.file, writer.buffer.get(), writer.buffered);
  writer.buffered = 0;
  return static_cast<bool>(writer.status);
}

bool CutPackage(PackageWriter& writer, std::uint32_t length) {
  if (length > writer.length) return false;
  if (writer.memory != nullptr) {
    writer.memory->resize(length);
    writer.length = length;
    return true;
  }
  const std::uint32_t written = writer.length - writer.buffered;
  if (length >= written) {
    writer.buffered = length - written;
  } else {
    writer.buffered = 0;
    if (!(writer.status = platform::Truncate(*writer.file, length))) return false;
  }
  writer.length = length;
  return true;
}
