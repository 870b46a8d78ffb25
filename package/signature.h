// Signed packages: finding what a code signer did to a built package, checking the package checksum
// around it, and the portable half of checking the signatures: which bytes their digest covers, and
// the entries of the certificate table that holds them (the platform decodes and hashes). Portable:
// the file's bytes come through a callback, so memory and files read the same and this folder needs
// no file system.
//
// Signing a package (Authenticode) changes it in three ways and nowhere else: it rewrites two fields
// of the stub's PE header (the image checksum, and data directory 4, the certificate-table entry:
// the table's file offset and size), pads the file with zero bytes to a multiple of 8, and appends
// the certificate table, which then ends the file. A signed package therefore ends where that
// padding begins: its checksum word sits just before it, and covers the two header fields as the
// builder copied them from the stub. For a stub as linked, that is a zero entry and an image
// checksum that is either zero (a linker that leaves it out) or the checksum of the stub image,
// recomputed here from the stub's own bytes. A stub that was signed on its own ends with its table,
// and its entry and checksum are those of that table: both are found again from the stub's last
// bytes. Nothing else is guessed, so a stub whose image checksum was simply wrong makes packages
// that are refused once signed. Re-signing replaces the table or nests a signature inside it; the
// table still ends the file, so both read the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads exactly `size` bytes at file offset `offset` into `buffer`; false when they cannot be read.
using PackageReadAt = bool (*)(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size);

// The PE header fields a signer writes, with their file offsets and the values found there.
struct PeSigningFields {
  std::uint32_t checksumOffset = 0;  // the image checksum: 64 bytes into the optional header
  std::uint32_t imageChecksum = 0;
  std::uint32_t entryOffset = 0;     // the certificate-table entry: table offset, then table size
  std::uint32_t tableOffset = 0;
  std::uint32_t tableSize = 0;
};

// Finds the fields in the PE image at the front of a file of `fileLength` bytes. False when there
// is none, or its optional header is too short to hold data directory 4: such a file cannot be
// signed. Every offset is checked against `fileLength` before it is read.
bool ReadPeSigningFields(PackageReadAt readAt, void* context, std::uint32_t fileLength, PeSigningFields& fields);

// The PE image checksum of bytes fed in file order from offset 0: their little-endian 16-bit words
// (an odd last byte completed with zero) added with the carry folded back in, plus the byte count.
// The image checksum and the certificate-table entry count as zeros, as they did before signing.
class ImageChecksum {
 public:
  explicit ImageChecksum(const PeSigningFields& fields) : fields_(fields) {}
  void Feed(const std::uint8_t* data, std::uint32_t size);
  std::uint32_t Value() const { return ValueWithEntry(0, 0); }
  // The value with the certificate-table entry holding these instead: what the signer of a stub
  // that was signed on its own wrote.
  std::uint32_t ValueWithEntry(std::uint32_t tableOffset, std::uint32_t tableSize) const;

 private:
  PeSigningFields fields_;
  std::uint32_t length_ = 0;
  std::uint32_t sum_ = 0;
  std::uint32_t low_ = 0;  // the first byte of a word whose second byte has not come yet
};

enum class PackageSeal {
  Unsigned,     // the checksum word ends the file and matches
  Signed,       // a certificate table ends the file, and the checksum before it matches
  Mismatch,     // the checksum does not match: a damaged or changed package
  StrayEntry,   // a certificate-table entry that does not end the file, and no matching checksum
  ReadFailed,   // the file could not be read
  TooLarge,     // the package (without a signer's padding and table) would pass kMaxPackageSize:
                // no package the builder wrote; refused unread
};

// What CheckPackageSeal found. For Unsigned, Signed and Mismatch `packageEnd` is where the package
// ends (the checksum word is its last 4 bytes): the file length, or where a signer's padding begins.
struct PackageExtent {
  PackageSeal seal = PackageSeal::Mismatch;
  std::uint32_t packageEnd = 0;
  bool hasEntry = false;      // the header carries a certificate-table entry (`fields` holds it)
  bool signedLayout = false;  // that entry ends the file, so the package was read as signed
  PeSigningFields fields;
};

// True when `fields` carry a certificate-table entry whose table (at least one entry header long)
// ends a file of `fileLength` bytes: the layout a signer leaves, in which a package is read as signed.
bool TableEndsFile(const PeSigningFields& fields, std::uint32_t fileLength);

// Checks the package checksum of a file of `fileLength` bytes, signed or not. A package whose
// certificate-table entry ends the file is read as signed; any other is checked as built, so an
// unsigned package built from a stub that was signed on its own (its entry points at the stub's
// table, inside the package) still checks as it always did. A package larger than kMaxPackageSize
// is TooLarge, told from the length and the header alone, before its bytes are summed.
PackageExtent CheckPackageSeal(PackageReadAt readAt, void* context, std::uint32_t fileLength);

// ---- What a signature vouches for ----
//
// A signature (Authenticode) holds a digest of the file as it was signed, the image digest: every
// byte from the start up to the certificate table, except the image checksum and the
// certificate-table entry (the two fields that signing rewrites), then zero bytes up to a multiple
// of 8 when the table does not start on one. A signer pads the file with zeros to that multiple
// before it appends the table, and that padding is hashed like any other byte; the table itself is
// not hashed, since it holds the signatures.

struct ByteRange {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// The image digest's input: the ranges of the file, in file order, then `zeroPadding` zero bytes.
struct ImageDigestLayout {
  ByteRange ranges[3];
  std::uint32_t zeroPadding = 0;
};

// The layout for a file whose certificate table starts at `fields.tableOffset`. A table that
// overlaps the two fields cuts the ranges short rather than wrapping round; CheckPackageSeal never
// reads such a package as signed.
ImageDigestLayout LayoutImageDigest(const PeSigningFields& fields);

// The certificate table holds entries back to back from its start. Each opens with an 8-byte
// header: its length (the header included), its revision (1.0 or 2.0) and its type; the next entry
// starts at the next multiple of 8. An entry of type 2 holds a signature: a PKCS#7 signed message,
// which a signer may follow with zeros up to that multiple within the length it states.
constexpr std::uint16_t kCertificateSignedData = 2;
// More entries than this are not read: a signer writes one, and each entry is one more message to
// decode.
constexpr std::size_t kMaxCertificateEntries = 8;

struct CertificateEntry {
  std::uint32_t offset = 0;  // of the entry's content (after its header), from the table's start
  std::uint32_t size = 0;    // of its content
  std::uint16_t type = 0;
};

// Lists the entries of the table held in `table` (`size` bytes). False when a header is damaged (a
// length below its own header or past the table, an unknown revision or type), when the entries do
// not end the table, or when there are more than kMaxCertificateEntries: such a table is no
// signer's.
bool WalkCertificateTable(const std::uint8_t* table, std::uint32_t size, std::vector<CertificateEntry>& entries);
