// A package's checksum and signatures: the certificate table is read and its signatures decoded by
// the platform first, so that the hashes of every algorithm they name can be started. For qorpack the
// checksum's pass over the file feeds them as it goes and what that pass does not read is hashed
// after it; for the installer a thread reads and hashes the file while the installer goes on. Then
// one verdict.
#include "installer/signature_check.h"

#include <new>
#include <system_error>

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
using Digests = std::array<std::vector<std::uint8_t>, kHashKinds>;

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

// What each signature says, and the first fault in table order as the verdict.
Failure Judge(const std::vector<platform::MessageSignature>& signatures, const bool digested, const Digests& digests,
              std::vector<SignatureFacts>& facts) {
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

// Reads the file for the checksum and hashes, on the way, every byte that continues what it has
// hashed so far and that the image digest covers. Reads elsewhere (the checksum looks at a few words
// out of order) pass untouched; Finish reads what was never reached (for the installer's thread, the
// whole file). Held by OwnSignatureCheck, hence outside this file's anonymous namespace.
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

  // Hashes the rest up to the table and the zero padding, and gives each wanted digest. With `stop`,
  // gives up (with a failure) once it is set.
  Failure Finish(Digests& digests, const std::atomic<bool>* stop = nullptr) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kHashChunk]);
    if (!buffer) return Fail(kFatalFile, "no memory to read the package");
    while (next_ < end_) {
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) return Fail(kFatalChecksum, kHashFailed);
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

namespace {

// The header and the signatures, read before the checksum's pass: `laidOut` is false for a file
// that is not laid out as signed (checked as an unsigned package is); else `signatures` holds what
// the table's signatures say, and a failure that needs no digest comes back.
Failure ReadSigned(platform::File& file, bool& laidOut, PeSigningFields& fields,
                   std::vector<platform::MessageSignature>& signatures) {
  std::uint32_t length = 0;
  laidOut = platform::SeekEnd(file, length) && ReadPeSigningFields(ReadFileAt, &file, length, fields) &&
            TableEndsFile(fields, length);
  return laidOut ? ReadSignatures(file, fields, signatures) : Failure();
}

// The pass read the header again: it must be the one the digest was laid out for.
bool SameLayout(const PackageExtent& extent, const PeSigningFields& fields) {
  return extent.fields.checksumOffset == fields.checksumOffset && extent.fields.entryOffset == fields.entryOffset &&
         extent.fields.tableOffset == fields.tableOffset;
}

}  // namespace

Failure VerifyPackageAndSignatures(platform::File& file, PackageExtent& extent, std::vector<SignatureFacts>& facts) {
  facts.clear();
  // The header and, when the file is laid out as signed, its signatures come first: they say which
  // hashes the checksum's pass feeds.
  bool laidOut = false;
  PeSigningFields fields;
  std::vector<platform::MessageSignature> signatures;
  Failure signatureFailure = ReadSigned(file, laidOut, fields, signatures);
  if (!laidOut) return VerifyPackage(file, extent);
  DigestTap tap(file, fields);
  if (!signatureFailure) signatureFailure = tap.Start(signatures);
  // A damaged package is refused for its checksum first, as an unsigned one is.
  const Failure checksum =
      signatureFailure ? VerifyPackage(file, extent) : VerifyPackage(file, extent, DigestTap::ReadAt, &tap);
  if (checksum) return checksum;
  if (extent.seal != PackageSeal::Signed) return Failure();
  Digests digests;
  if (!signatureFailure && !SameLayout(extent, fields)) signatureFailure = Fail(kFatalChecksum, kMismatch);
  if (!signatureFailure) signatureFailure = tap.Finish(digests);
  const Failure verdict = Judge(signatures, !signatureFailure, digests, facts);
  return signatureFailure ? signatureFailure : verdict;
}

OwnSignatureCheck::OwnSignatureCheck() = default;

OwnSignatureCheck::~OwnSignatureCheck() { Stop(); }

Failure OwnSignatureCheck::Begin(platform::File& file, platform::File second, PackageExtent& extent) {
  if (!second.IsOpen()) {
    // No second handle to hash through: the whole check, here and now.
    verdict_ = VerifyPackageAndSignatures(file, extent, facts_);
    return verdict_;
  }
  second_ = std::move(second);
  bool laidOut = false;
  PeSigningFields fields;
  Failure signatureFailure = ReadSigned(file, laidOut, fields, signatures_);
  if (!laidOut) {
    Stop();
    verdict_ = VerifyPackage(file, extent);
    return verdict_;
  }
  tap_.reset(new (std::nothrow) DigestTap(second_, fields));
  if (!tap_) signatureFailure = Fail(kFatalFile, "no memory to read the package");
  if (!signatureFailure) signatureFailure = tap_->Start(signatures_);
  if (!signatureFailure) {
    // The digests are read through the second handle from the start, while the checksum's pass
    // reads the first one.
    pending_ = true;
    try {
      thread_ = std::thread(&OwnSignatureCheck::Hash, this);
    } catch (const std::system_error&) {
      // No thread to be had: the digests are computed after the checksum, here.
    }
  }
  // A damaged package is refused for its checksum first, as an unsigned one is.
  if (const Failure checksum = VerifyPackage(file, extent)) {
    Stop();
    verdict_ = checksum;
    return verdict_;
  }
  if (extent.seal != PackageSeal::Signed) {
    Stop();
    return verdict_;
  }
  if (!signatureFailure && !SameLayout(extent, fields)) signatureFailure = Fail(kFatalChecksum, kMismatch);
  if (signatureFailure) {
    // Judged without the digests.
    Stop();
    Judge(signatures_, false, digests_, facts_);
    verdict_ = signatureFailure;
    return verdict_;
  }
  if (!thread_.joinable()) Hash();
  return Failure();
}

void OwnSignatureCheck::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  pending_ = false;
  second_.Close();
}

void OwnSignatureCheck::Hash() { digestFailure_ = tap_->Finish(digests_, &stop_); }

Failure OwnSignatureCheck::Finish() {
  if (!pending_) return verdict_;
  if (thread_.joinable()) thread_.join();
  pending_ = false;
  second_.Close();
  const Failure verdict = Judge(signatures_, !digestFailure_, digests_, facts_);
  verdict_ = digestFailure_ ? digestFailure_ : verdict;
  return verdict_;
}

std::string DescribeSignatureFacts(const SignatureFacts& facts) {
  std::string text = facts.subject.empty() ? std::string("(no signer certificate)") : EscapeControls(facts.subject);
  text += ": " + EscapeControls(facts.digestAlgorithm);
  text += facts.timestamped ? ", timestamped" : ", no timestamp";
  text += facts.digestMatches ? ", matches" : ", does not match";
  return text;
}
