// Fuzz target of the signed-package check: any bytes, judged as a package that may be signed, must
// give one of its answers without a read outside them, and a package read as signed must end where
// a signer's padding can begin: on a word boundary, at most 7 bytes before the table that ends the
// file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package/signature.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::uint32_t size;
};

bool ReadAt(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
  const auto* input = static_cast<const Input*>(context);
  if (offset > input->size || size > input->size - offset) return false;
  std::memcpy(buffer, input->data + offset, size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  Input input{data, static_cast<std::uint32_t>(size)};
  const PackageExtent extent = CheckPackageSeal(ReadAt, &input, input.size);
  // Every read lies inside the data, so none fails.
  if (extent.seal == PackageSeal::ReadFailed) std::abort();
  if (extent.seal == PackageSeal::Signed) {
    const PeSigningFields& fields = extent.fields;
    if (!extent.signedLayout || extent.packageEnd % 4 != 0 || extent.packageEnd < 8 ||
        extent.packageEnd > fields.tableOffset || fields.tableOffset - extent.packageEnd > 7 ||
        std::uint64_t{fields.tableOffset} + fields.tableSize != size) {
      std::abort();
    }
  }
  if (extent.packageEnd > size) std::abort();
  return 0;
}
