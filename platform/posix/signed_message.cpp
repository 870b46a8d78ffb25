// Signed messages and hashes in the native build: libcrypto's PKCS#7 decoder and signature check, its
// generic ASN.1 decoder for the content, and its digests.
#include "platform/signed_message.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace platform {

namespace {

// Object identifiers of signed packages that libcrypto has no names for: the content of a package's
// signature (an image digest), a signature nested in another's unsigned attributes, and a timestamp
// kept there in the form of a timestamp token (the older form is the standard countersignature).
const char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
const char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";
const char kTimestampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";

struct Pkcs7Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct SequenceFree {
  void operator()(STACK_OF(ASN1_TYPE) * p) const { sk_ASN1_TYPE_pop_free(p, ASN1_TYPE_free); }
};
struct SigFree {
  void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct BioFreeAll {
  void operator()(BIO* p) const { BIO_free_all(p); }
};

const EVP_MD* Digest(HashKind kind) {
  switch (kind) {
    case HashKind::Sha1: return EVP_sha1();
    case HashKind::Sha256: return EVP_sha256();
    case HashKind::Sha384: return EVP_sha384();
    case HashKind::Sha512: return EVP_sha512();
  }
  return nullptr;
}

bool KindOf(const ASN1_OBJECT* algorithm, HashKind& kind) {
  switch (OBJ_obj2nid(algorithm)) {
    case NID_sha1: kind = HashKind::Sha1; return true;
    case NID_sha256: kind = HashKind::Sha256; return true;
    case NID_sha384: kind = HashKind::Sha384; return true;
    case NID_sha512: kind = HashKind::Sha512; return true;
    default: return false;
  }
}

std::string OidText(const ASN1_OBJECT* object) {
  char text[128];
  const int length = object == nullptr ? 0 : OBJ_obj2txt(text, sizeof text, object, 1);
  return length > 0 && length < static_cast<int>(sizeof text) ? std::string(text) : std::string();
}

// "CN=..., O=..." in the certificate's order, UTF-8, as the Windows side writes it.
std::string SubjectText(X509* certificate) {
  std::unique_ptr<BIO, BioFree> text(BIO_new(BIO_s_mem()));
  const unsigned long flags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN;
  if (!text || X509_NAME_print_ex(text.get(), X509_get_subject_name(certificate), 0, flags) < 0) return std::string();
  char* data = nullptr;
  const long length = BIO_get_mem_data(text.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

// The content of a package's signature: what is signed (ignored here) and the image digest, a digest
// algorithm and a digest value. Its content octets, inside the content's own tag and length, are
// what the signer hashed: `octets` points into the message.
bool ReadContent(PKCS7* message, MessageSignature& signature, const unsigned char*& octets, long& octetsLength) {
  PKCS7_SIGNED* signedData = message->d.sign;
  if (signedData == nullptr || signedData->contents == nullptr ||
      OidText(signedData->contents->type) != kIndirectDataOid) {
    return false;
  }
  const ASN1_TYPE* content = signedData->contents->d.other;
  if (content == nullptr || content->type != V_ASN1_SEQUENCE) return false;
  const unsigned char* der = content->value.sequence->data;
  const long length = content->value.sequence->length;

  const unsigned char* inside = der;
  int tag = 0, tagClass = 0;
  if ((ASN1_get_object(&inside, &octetsLength, &tag, &tagClass, length) & 0x81) != 0 ||
      octetsLength > length - (inside - der)) {
    return false;
  }
  octets = inside;

  const unsigned char* at = der;
  std::unique_ptr<STACK_OF(ASN1_TYPE), SequenceFree> fields(d2i_ASN1_SEQUENCE_ANY(nullptr, &at, length));
  if (!fields || sk_ASN1_TYPE_num(fields.get()) != 2) return false;
  const ASN1_TYPE* digestInfo = sk_ASN1_TYPE_value(fields.get(), 1);
  if (digestInfo->type != V_ASN1_SEQUENCE) return false;
  at = digestInfo->value.sequence->data;
  std::unique_ptr<X509_SIG, SigFree> digest(d2i_X509_SIG(nullptr, &at, digestInfo->value.sequence->length));
  if (!digest) return false;
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_get0(digest.get(), &algorithm, &value);
  signature.algorithmKnown = KindOf(algorithm->algorithm, signature.algorithm);
  signature.algorithmName = signature.algorithmKnown ? HashName(signature.algorithm) : OidText(algorithm->algorithm);
  signature.imageDigest.assign(value->data, value->data + value->length);
  return true;
}

// Whether a signer's signature holds over the content octets: the hash in its signed attributes (a
// package's signer always signs attributes; one that does not is refused on both platforms alike),
// and its signature over them, with the key of its certificate from the message. No chain is built
// and no certificate is trusted or refused here. One signer at a time, rather than PKCS7_verify:
// that keeps a copy of the content when a digest algorithm of the message is unknown (libcrypto 3.0).
bool SignerIntact(PKCS7* message, PKCS7_SIGNER_INFO* signer, X509* certificate, const unsigned char* octets,
                  long length) {
  if (certificate == nullptr || sk_X509_ATTRIBUTE_num(signer->auth_attr) <= 0) return false;
  BIO* content = BIO_new_mem_buf(octets, static_cast<int>(length));
  if (content == nullptr) return false;
  // The digests of the message's algorithms, in front of the content; freed with it.
  std::unique_ptr<BIO, BioFreeAll> chain(PKCS7_dataInit(message, content));
  if (!chain) {
    BIO_free(content);
    return false;
  }
  unsigned char buffer[4096];
  while (BIO_read(chain.get(), buffer, sizeof buffer) > 0) {
  }
  return PKCS7_signatureVerify(chain.get(), message, signer, certificate) == 1;
}

bool ReadMessage(const unsigned char* der, long size, int depth, std::vector<MessageSignature>& signatures);

// The unsigned attributes of a signer: nested signatures are read after it; a timestamp is noted.
bool ReadUnsignedAttributes(PKCS7_SIGNER_INFO* signer, int depth, std::vector<MessageSignature>& signatures) {
  const std::size_t own = signatures.size() - 1;
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr); ++i) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer->unauth_attr, i);
    const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
    const std::string oid = OidText(type);
    if (oid == kTimestampTokenOid || OBJ_obj2nid(type) == NID_pkcs9_countersignature) {
      signatures[own].timestamped = true;
    } else if (oid == kNestedSignatureOid) {
      for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
        const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
        if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
          if (signatures.size() >= kMaxMessageSignatures) return false;
          MessageSignature unreadable;
          unreadable.depth = depth + 1;
          signatures.push_back(unreadable);
        } else if (!ReadMessage(value->value.sequence->data, value->value.sequence->length, depth + 1, signatures)) {
          return false;
        }
      }
    }
  }
  return true;
}

bool ReadMessage(const unsigned char* der, long size, int depth, std::vector<MessageSignature>& signatures) {
  if (depth > kMaxSignatureDepth || signatures.size() >= kMaxMessageSignatures) return false;
  MessageSignature base;
  base.depth = depth;
  const unsigned char* at = der;
  std::unique_ptr<PKCS7, Pkcs7Free> message(d2i_PKCS7(nullptr, &at, size));
  const unsigned char* octets = nullptr;
  long octetsLength = 0;
  STACK_OF(PKCS7_SIGNER_INFO)* signers = nullptr;
  if (!message || !PKCS7_type_is_signed(message.get()) || !ReadContent(message.get(), base, octets, octetsLength) ||
      (signers = PKCS7_get_signer_info(message.get())) == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) == 0) {
    ERR_clear_error();
    signatures.push_back(MessageSignature{});
    signatures.back().depth = depth;
    return true;
  }
  base.readable = true;
  for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
    if (signatures.size() >= kMaxMessageSignatures) return false;
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, i);
    signatures.push_back(base);
    X509* certificate = X509_find_by_issuer_and_serial(message->d.sign->cert, signer->issuer_and_serial->issuer,
                                                       signer->issuer_and_serial->serial);
    if (certificate != nullptr) signatures.back().subject = SubjectText(certificate);
    signatures.back().contentIntact = SignerIntact(message.get(), signer, certificate, octets, octetsLength);
    ERR_clear_error();
    if (!ReadUnsignedAttributes(signer, depth, signatures)) return false;
  }
  return true;
}

}  // namespace

Hash::~Hash() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_)); }

Hash& Hash::operator=(Hash&& other) noexcept {
  if (this != &other) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_));
    state_ = other.state_;
    other.state_ = nullptr;
  }
  return *this;
}

bool Hash::Start(HashKind kind) {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_));
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  state_ = context;
  if (context == nullptr || EVP_DigestInit_ex(context, Digest(kind), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    state_ = nullptr;
    return false;
  }
  return true;
}

bool Hash::Update(const std::uint8_t* data, std::uint32_t size) {
  auto* context = static_cast<EVP_MD_CTX*>(state_);
  if (context != nullptr && EVP_DigestUpdate(context, data, size) == 1) return true;
  EVP_MD_CTX_free(context);
  state_ = nullptr;
  return false;
}

bool Hash::Finish(std::vector<std::uint8_t>& digest) {
  auto* context = static_cast<EVP_MD_CTX*>(state_);
  if (context == nullptr) return false;
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool done = EVP_DigestFinal_ex(context, value, &length) == 1;
  EVP_MD_CTX_free(context);
  state_ = nullptr;
  if (done) digest.assign(value, value + length);
  return done;
}

bool ReadSignedMessage(const std::uint8_t* der, std::uint32_t size, std::vector<MessageSignature>& signatures) {
  // libcrypto takes lengths as long; a message of 2 GiB or more is no signer's.
  if (size > 0x7FFFFFFFu) return false;
  return ReadMessage(der, static_cast<long>(size), 0, signatures);
}

}  // namespace platform
