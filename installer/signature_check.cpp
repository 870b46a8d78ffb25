// A package's checksum and signatures in one read: the certificate table is read and its signatures
// decoded by the platform first, so that the checksum's pass over the file can feed the image digest
// in every algorithm they name as it goes; what that pass does not read is hashed after it. Then one
// verdict.
#include "installer/signature_check.h"

#include <memory>
#include <new>

#include "installer/segment.h"
#include "platform/signed_message.h"
#include "script/printable.h"

namespace {

const char kMismatch[] = "the signature does not match the package";
const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...";
const char kHashFailed[] = "the system's hash failed";

// The file is read in pieces of this size where the checksum's pass has not read it.
constexpr std::uint32_t kHashChunk = 256 * 1024;
constexpr int kHashKinds = 4;

bool ReadExactly(platform::File& file, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
  if (!platform::Seek(file, offset)) return false;
  while (size != 0) {
    std::uint32_t got = 0;
    if (!platform::ReadFile(file, buffer, size, got) || got == 0) return false;
    buffer += got;
    size -= got;
  }
  return true;
}

bool ReadFileAt(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
  return ReadExactly(*static_cast<platform::File*>(context), offset, buffer, size);
}

// Every signature of the table's signed-data entries, in table order.
Failure ReadSignatures(platform::File& file, const PeSigningFields& fields,
                       std::vector<platform::MessageSignature>& signatures) {
  if (fields.tableSize > kMaxCertificateTable) {
    return Fail(kFatalChecksum,
                "the certificate table is larger than " + std::to_string(kMaxCertificateTable >> 20) + " MiB");
  }
  std::vector<std::uint8_t> table(fields.tableSize);
  if (!ReadExactly(file, fields.tableOffset, table.data(), fields.tableSize)) return Fail(kFatalFile, kReadFailed);
  std::vector<CertificateEntry> entries;
  if (!WalkCertificateTable(table.data(), fields.tableSize, entries)) {
    return Fail(kFatalChecksum, "the certificate table is damaged");
  }
  for (const CertificateEntry& entry : entries) {
    if (entry.type != kCertificateSignedData) continue;
    if (!platform::ReadSignedMessage(table.data() + entry.offset, entry.size, signatures)) {
      return Fail(kFatalChecksum, kMismatch);
    }
  }
  if (signatures.empty()) return Fail(kFatalChecksum, "the certificate table holds no signature");
  return Failure();
}

// Reads the file for the checksum and hashes, on the way, every byte that continues what it has
// hashed so far and that the image digest covers. Reads elsewhere (the checksum looks at a few words
// out of order) pass untouched; Finish reads what was never reached.
class DigestTap {
 public:
  DigestTap(platform::File& file, const PeSigningFields& fields) : file_(file), layout_(LayoutImageDigest(fields)) {
    end_ = fields.tableOffset;
  }

  // Starts the hash of each algorithm that one of `signatures` names; fails when the system lacks one.
  Failure Start(const std::vector<platform::MessageSignature>& signatures) {
    for (const platform::MessageSignature& signature : signatures) {
      if (!signature.readable || !signature.algorithmKnown) continue;
      const int kind = static_cast<int>(signature.algorithm);
      if (!wanted_[kind] && !hashes_[kind].Start(signature.algorithm)) {
        return Fail(kFatalChecksum,
                    std::string("the system cannot compute ") + platform::HashName(signature.algorithm));
      }
      wanted_[kind] = true;
    }
    return Failure();
  }

  static bool ReadAt(void* context, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
    auto& tap = *static_cast<DigestTap*>(context);
    if (!ReadExactly(tap.file_, offset, buffer, size)) return false;
    const std::uint64_t end = std::uint64_t{offset} + size;
    if (offset <= tap.next_ && end > tap.next_) {
      tap.Feed(buffer + (tap.next_ - offset), static_cast<std::uint32_t>(end - tap.next_));
    }
    return true;
  }

  // Hashes the rest up to the table and the zero padding, and gives each wanted digest.
  Failure Finish(std::vector<std::uint8_t> (&digests)[kHashKinds]) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kHashChunk]);
    if (!buffer) return Fail(kFatalFile, "no memory to read the package");
    while (next_ < end_) {
      const std::uint32_t size = end_ - next_ < kHashChunk ? end_ - next_ : kHashChunk;
      if (!ReadExactly(file_, next_, buffer.get(), size)) return Fail(kFatalFile, kReadFailed);
      Feed(buffer.get(), size);
    }
    const std::uint8_t zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    Hash(zeros, layout_.zeroPadding);
    for (int kind = 0; kind < kHashKinds; ++kind) {
      if (wanted_[kind] && !hashes_[kind].Finish(digests[kind])) failed_ = true;
    }
    return failed_ ? Fail(kFatalChecksum, kHashFailed) : Failure();
  }

 private:
  // The `size` bytes at `data`, which continue the file from next_: the parts inside the digest's
  // ranges are hashed.
  void Feed(const std::uint8_t* data, std::uint32_t size) {
    const std::uint64_t start = next_, end = start + size;
    for (const ByteRange& range : layout_.ranges) {
      const std::uint64_t from = range.offset > start ? range.offset : start;
      const std::uint64_t to = std::uint64_t{range.offset} + range.size < end ? range.offset + range.size : end;
      if (from < to) Hash(data + (from - start), static_cast<std::uint32_t>(to - from));
    }
    next_ = static_cast<std::uint32_t>(end < end_ ? end : end_);
  }

  void Hash(const std::uint8_t* data, std::uint32_t size) {
    for (int kind = 0; kind < kHashKinds; ++kind) {
      if (wanted_[kind] && !hashes_[kind].Update(data, size)) failed_ = true;
    }
  }

  platform::File& file_;
  const ImageDigestLayout layout_;
  std::uint32_t end_;       // where the hashed bytes end: the table's start
  std::uint32_t next_ = 0;  // every byte before this has been fed
  platform::Hash hashes_[kHashKinds];
  bool wanted_[kHashKinds] = {};
  bool failed_ = false;
};

// What each signature says, and the first fault in table order as the verdict.
Failure Judge(const std::vector<platform::MessageSignature>& signatures, const bool digested,
              const std::vector<std::uint8_t> (&digests)[kHashKinds], std::vector<SignatureFacts>& facts) {
  Failure failure;
  for (const platform::MessageSignature& signature : signatures) {
    SignatureFacts fact;
    fact.depth = signature.depth;
    fact.subject = signature.subject;
    fact.digestAlgorithm = signature.readable ? signature.algorithmName : "?";
    fact.timestamped = signature.timestamped;
    fact.digestMatches = digested && signature.readable && signature.algorithmKnown && signature.contentIntact &&
                         signature.imageDigest == digests[static_cast<int>(signature.algorithm)];
    facts.push_back(fact);
    if (failure || fact.digestMatches) continue;
    // A changed content may well name another algorithm: that it was changed is the reason then.
    failure = signature.readable && signature.contentIntact && !signature.algorithmKnown
                  ? Fail(kFatalChecksum, "the signature names a digest algorithm that is not checked: " +
                                             EscapeControls(signature.algorithmName))
                  : Fail(kFatalChecksum, kMismatch);
  }
  return failure;
}

}  // namespace

Failure VerifyPackageAndSignatures(platform::File& file, PackageExtent& extent, std::vector<SignatureFacts>& facts) {
  facts.clear();
  // The header and, when the file is laid out as signed, its signatures come first: they say which
  // hashes the checksum's pass feeds.
  std::uint32_t length = 0;
  PeSigningFields fields;
  if (!platform::SeekEnd(file, length) || !ReadPeSigningFields(ReadFileAt, &file, length, fields) ||
      !TableEndsFile(fields, length)) {
    return VerifyPackage(file, extent);
  }
  std::vector<platform::MessageSignature> signatures;
  Failure signatureFailure = ReadSignatures(file, fields, signatures);
  DigestTap tap(file, fields);
  if (!signatureFailure) signatureFailure = tap.Start(signatures);
  // A damaged package is refused for its checksum first, as an unsigned one is.
  const Failure checksum =
      signatureFailure ? VerifyPackage(file, extent) : VerifyPackage(file, extent, DigestTap::ReadAt, &tap);
  if (checksum) return checksum;
  if (extent.seal != PackageSeal::Signed) return Failure();
  std::vector<std::uint8_t> digests[kHashKinds];
  // The pass read the header again: it must be the one the digest was laid out for.
  if (!signatureFailure && (extent.fields.checksumOffset != fields.checksumOffset ||
                            extent.fields.entryOffset != fields.entryOffset ||
                            extent.fields.tableOffset != fields.tableOffset)) {
    signatureFailure = Fail(kFatalChecksum, kMismatch);
  }
  if (!signatureFailure) signatureFailure = tap.Finish(digests);
  const Failure verdict = Judge(signatures, !signatureFailure, digests, facts);
  return signatureFailure ? signatureFailure : verdict;
}

Failure VerifyOwnPackage(InstallSession& session, PackageExtent& extent) {
  std::vector<SignatureFacts> facts;
  const Failure failure = VerifyPackageAndSignatures(session.package, extent, facts);
  if (session.log != nullptr) {
    for (const SignatureFacts& fact : facts) {
      session.log->Step(fact.depth > 0 ? "nested signature" : "signature", DescribeSignatureFacts(fact));
    }
  }
  return failure;
}

std::string DescribeSignatureFacts(const SignatureFacts& facts) {
  std::string text = facts.subject.empty() ? std::string("(no signer certificate)") : EscapeControls(facts.subject);
  text += ": " + EscapeControls(facts.digestAlgorithm);
  text += facts.timestamped ? ", timestamped" : ", no timestamp";
  text += facts.digestMatches ? ", matches" : ", does not match";
  return text;
}
