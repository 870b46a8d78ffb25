// Fuzz target of the signed-package check: any bytes, judged as a package that may be signed, must
// give one of its answers without a read outside them, and a package read as signed must end where
// a signer's padding can begin: on a word boundary, at most 7 bytes before the table that ends the
// file. The table of such a package is walked and its signatures decoded by the platform, within
// their bounds, and the image digest's ranges must cover the file up to the table but the two
// fields a signer rewrites.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "package/signature.h"
#include "platform/signed_message.h"

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

// The digest's ranges, in order, skip exactly the image checksum and the certificate-table entry and
// end at the table, which the padding brings to a multiple of 8; every entry lies in the table, and
// no message gives more signatures than the bound.
void CheckTable(const std::uint8_t* data, const PeSigningFields& fields) {
  const ImageDigestLayout layout = LayoutImageDigest(fields);
  const ByteRange* ranges = layout.ranges;
  if (ranges[0].offset != 0 || ranges[0].size != fields.checksumOffset ||
      ranges[1].offset != fields.checksumOffset + 4 || ranges[1].offset + ranges[1].size != fields.entryOffset ||
      ranges[2].offset != fields.entryOffset + 8 || ranges[2].offset + ranges[2].size != fields.tableOffset ||
      (fields.tableOffset + layout.zeroPadding) % 8 != 0) {
    std::abort();
  }
  std::vector<CertificateEntry> entries;
  if (!WalkCertificateTable(data + fields.tableOffset, fields.tableSize, entries)) return;
  std::vector<platform::MessageSignature> signatures;
  for (const CertificateEntry& entry : entries) {
    if (entry.offset < 8 || entry.size > fields.tableSize || entry.offset > fields.tableSize - entry.size) std::abort();
    if (entry.type == kCertificateSignedData &&
        !platform::ReadSignedMessage(data + fields.tableOffset + entry.offset, entry.size, signatures)) {
      break;
    }
  }
  if (signatures.size() > platform::kMaxMessageSignatures) std::abort();
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
  if (extent.seal == PackageSeal::Signed) CheckTable(data, extent.fields);
  return 0;
}
