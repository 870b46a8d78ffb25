// The signatures of a signed package against its bytes: the table read and walked, each signature
// decoded by the platform, the image digest computed once per algorithm the signatures name, and
// one verdict.
#include "installer/signature_check.h"

#include <memory>
#include <new>

#include "platform/signed_message.h"
#include "script/printable.h"

namespace {

const char kMismatch[] = "the signature does not match the package";
const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...";

// The file is read in pieces of this size while it is hashed.
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

// Every signature of the table's signed-data entries, in table order.
Failure ReadSignatures(platform::File& file, const PeSigningFields& fields,
                       std::vector<platform::MessageSignature>& signatures) {
  if (fields.tableSize > kMaxCertificateTable) {
    return Fail(kFatalChecksum, "the certificate table is larger than " + std::to_string(kMaxCertificateTable >> 20) +
                                    " MiB");
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

// The image digest of the file in each algorithm that `wanted` marks, in one pass over its bytes.
Failure ComputeImageDigests(platform::File& file, const PeSigningFields& fields, const bool (&wanted)[kHashKinds],
                            std::vector<std::uint8_t> (&digests)[kHashKinds]) {
  platform::Hash hashes[kHashKinds];
  for (int kind = 0; kind < kHashKinds; ++kind) {
    if (wanted[kind] && !hashes[kind].Start(static_cast<platform::HashKind>(kind))) {
      return Fail(kFatalChecksum, std::string("the system cannot compute ") +
                                      platform::HashName(static_cast<platform::HashKind>(kind)));
    }
  }
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kHashChunk]());
  if (!buffer) return Fail(kFatalFile, "no memory to read the package");
  const auto feed = [&](const std::uint8_t* data, std::uint32_t size) {
    for (int kind = 0; kind < kHashKinds; ++kind) {
      if (wanted[kind] && !hashes[kind].Update(data, size)) return false;
    }
    return true;
  };
  const ImageDigestLayout layout = LayoutImageDigest(fields);
  for (const ByteRange& range : layout.ranges) {
    if (range.size != 0 && !platform::Seek(file, range.offset)) return Fail(kFatalFile, kReadFailed);
    for (std::uint32_t left = range.size; left != 0;) {
      std::uint32_t got = 0;
      if (!platform::ReadFile(file, buffer.get(), left < kHashChunk ? left : kHashChunk, got) || got == 0) {
        return Fail(kFatalFile, kReadFailed);
      }
      if (!feed(buffer.get(), got)) return Fail(kFatalChecksum, "the system's hash failed");
      left -= got;
    }
  }
  const std::uint8_t zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (!feed(zeros, layout.zeroPadding)) return Fail(kFatalChecksum, "the system's hash failed");
  for (int kind = 0; kind < kHashKinds; ++kind) {
    if (wanted[kind] && !hashes[kind].Finish(digests[kind])) return Fail(kFatalChecksum, "the system's hash failed");
  }
  return Failure();
}

}  // namespace

Failure CheckPackageSignatures(platform::File& file, const PackageExtent& extent, std::vector<SignatureFacts>& facts) {
  facts.clear();
  if (extent.seal != PackageSeal::Signed) return Failure();
  std::vector<platform::MessageSignature> signatures;
  Failure failure = ReadSignatures(file, extent.fields, signatures);

  bool wanted[kHashKinds] = {};
  for (const platform::MessageSignature& signature : signatures) {
    if (signature.readable && signature.algorithmKnown) wanted[static_cast<int>(signature.algorithm)] = true;
  }
  std::vector<std::uint8_t> digests[kHashKinds];
  if (!failure) failure = ComputeImageDigests(file, extent.fields, wanted, digests);
  const bool digested = !failure;

  // The first fault in table order gives the reason.
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
    failure = signature.readable && !signature.algorithmKnown
                  ? Fail(kFatalChecksum, "the signature names a digest algorithm that is not checked: " +
                                             EscapeControls(signature.algorithmName))
                  : Fail(kFatalChecksum, kMismatch);
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

Failure CheckOwnSignatures(InstallSession& session, const PackageExtent& extent) {
  std::vector<SignatureFacts> facts;
  const Failure failure = CheckPackageSignatures(session.package, extent, facts);
  if (session.log != nullptr) {
    for (const SignatureFacts& fact : facts) {
      session.log->Step(fact.depth > 0 ? "nested signature" : "signature", DescribeSignatureFacts(fact));
    }
  }
  return failure;
}
