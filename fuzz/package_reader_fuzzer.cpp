// Fuzz target of the package reader: any bytes, read as a package the way the installer reads one
// (the stub, then segments until one fails), must end in a fault or a clean end, never in a crash,
// an endless loop or a read outside the buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "package/package_reader.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset;
};

bool ReadInput(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* input = static_cast<Input*>(context);
  const std::size_t left = input->size - input->offset;
  // Odd delivery sizes, chosen by the data, so that markers fall across refills in every way.
  std::size_t step = 1 + (input->size > 0 ? input->data[input->size - 1] : 0) * 37u;
  got = static_cast<std::uint32_t>(left < size ? left : size);
  if (got > step) got = static_cast<std::uint32_t>(step);
  std::memcpy(buffer, input->data + input->offset, got);
  input->offset += got;
  return true;
}

bool Discard(void* context, const std::uint8_t*, std::uint32_t size) {
  *static_cast<std::uint64_t*>(context) += size;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > (1u << 24)) return 0;
  Input input = {data, size, 0};
  const auto end = static_cast<std::uint32_t>(size - 4);
  PackageReader reader(ReadInput, &input, 0, end);
  std::uint64_t written = 0;
  if (reader.CopyStub(Discard, &written) != PackageFault::None) return 0;
  // At most 101 pieces: the script and File01 to File99, and one more to see the end.
  for (int piece = 0; piece < 101; ++piece) {
    std::uint64_t fileTime = 0;
    std::uint32_t decoderResult = 0;
    const std::uint32_t before = reader.Position();
    if (reader.DecodeSegment(Discard, &written, fileTime, decoderResult) != PackageFault::None) break;
    // Every piece moves on by at least its marker and time; the reader never passes the end.
    if (reader.Position() < before + kMarkerSize + kFileTimeSize || reader.Position() > end) __builtin_trap();
  }
  return 0;
}
