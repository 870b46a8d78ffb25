// The cryptography behind signed packages, from the system's own libraries: the hashes of an image
// digest, and what the signatures of a PKCS#7 signed message say. platform/win32 asks crypt32 and
// bcrypt, platform/posix libcrypto; nothing above this header decodes ASN.1 or computes a hash.
//
// A signature of a package (Authenticode) is a signed message whose content names the image digest
// (package/signature.h says which bytes it covers) and the algorithm that made it. Its signer signs a
// hash of that content; the message carries the signer's certificate, and may carry further
// signatures of the same file, nested in the signer's unsigned attributes, and a timestamp there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The digest algorithms a signature may name that are checked here.
enum class HashKind { Sha1, Sha256, Sha384, Sha512 };
// "SHA-1", "SHA-256", "SHA-384" or "SHA-512".
const char* HashName(HashKind kind);

// One running hash. Start it, feed it the bytes in order, then Finish. Move-only.
class Hash {
 public:
  Hash() = default;
  ~Hash();
  Hash(Hash&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  Hash& operator=(Hash&& other) noexcept;
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  // False when the system cannot make such a hash.
  bool Start(HashKind kind);
  // False when the hash fails (or was not started); Finish then fails too.
  bool Update(const std::uint8_t* data, std::uint32_t size);
  // The digest of everything fed; the hash cannot be fed again.
  bool Finish(std::vector<std::uint8_t>& digest);

 private:
  void* state_ = nullptr;  // the platform's hash object
};

// One signature of a signed message, as it reads.
struct MessageSignature {
  int depth = 0;        // 0 for the message's own signers, 1 for one nested in such a signature, ...
  bool readable = false;  // the message decoded, and its content is an image digest: the rest holds
  std::string subject;  // the signer certificate's subject, "CN=..., O=..." (platform text); empty when
                        // the message carries no certificate for the signer
  bool algorithmKnown = false;  // the image digest's algorithm is one of HashKind
  HashKind algorithm = HashKind::Sha256;
  std::string algorithmName;    // its HashName, or the algorithm's object identifier when unknown
  std::vector<std::uint8_t> imageDigest;  // the image digest the content states
  // The content is as signed: its hash is the one in the signer's signed attributes, and the
  // signature over those attributes verifies with the signer certificate's key. Who the signer is
  // and whether anybody trusts that certificate is not looked at.
  bool contentIntact = false;
  bool timestamped = false;  // a timestamp (a countersignature) sits in its unsigned attributes
};

// Nested signatures deeper than this, or more signatures than kMaxMessageSignatures in one message,
// are not read: such a message is refused rather than decoded without end.
constexpr int kMaxSignatureDepth = 4;
constexpr std::size_t kMaxMessageSignatures = 16;

// Reads the DER-encoded PKCS#7 signed message of `size` bytes at `der` (bytes after its end are
// ignored: a signer may pad it) and appends a MessageSignature for each of its signers, each followed
// by those nested in its unsigned attributes, depth first. A message or nested value that does not
// decode, or whose content is no image digest, appends one signature that is not `readable`. False
// when there was more to read than the bounds above allow.
bool ReadSignedMessage(const std::uint8_t* der, std::uint32_t size, std::vector<MessageSignature>& signatures);

}  // namespace platform
