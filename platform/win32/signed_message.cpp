// Signed messages and hashes on Windows: crypt32 decodes the message and checks its signer's
// signature, the content's structure decoder comes with the system (wintrust registers it with
// crypt32), and bcrypt hashes. The three DLLs are loaded by their full paths in the system directory
// when a signed package is first checked, never imported by name: the loader would look for an
// imported DLL beside the executable first, where a downloads folder may hold a planted one, and an
// unsigned package never needs them.
#include "platform/signed_message.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Object identifiers of signed packages: a signature nested in another's unsigned attributes, and the
// two forms of a timestamp kept there (a timestamp token, or the standard countersignature).
const char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";
const char kTimestampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";

// GetProcAddress returns a generic function pointer; the cast goes through void* because gcc warns
// about casting between unrelated function types.
template <typename Function>
void Bind(HMODULE module, const char* name, Function& function) {
  function = module == nullptr ? nullptr
                               : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  char systemPath[kPathCapacity];
  std::wstring path;
  if (!SystemDirectory(systemPath) || !Widen(systemPath, path)) return nullptr;
  path += L"\\";
  path += name;
  // The DLL's own dependencies are looked for in its folder first, not beside the executable.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The functions of crypt32 and bcrypt in use here, loaded once for the process and kept.
struct Api {
  decltype(&::CryptMsgOpenToDecode) CryptMsgOpenToDecode;
  decltype(&::CryptMsgUpdate) CryptMsgUpdate;
  decltype(&::CryptMsgGetParam) CryptMsgGetParam;
  decltype(&::CryptMsgControl) CryptMsgControl;
  decltype(&::CryptMsgClose) CryptMsgClose;
  decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx;
  decltype(&::CertOpenStore) CertOpenStore;
  decltype(&::CertCloseStore) CertCloseStore;
  decltype(&::CertGetSubjectCertificateFromStore) CertGetSubjectCertificateFromStore;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext;
  decltype(&::CertNameToStrW) CertNameToStrW;
  decltype(&::BCryptOpenAlgorithmProvider) BCryptOpenAlgorithmProvider;
  decltype(&::BCryptCloseAlgorithmProvider) BCryptCloseAlgorithmProvider;
  decltype(&::BCryptGetProperty) BCryptGetProperty;
  decltype(&::BCryptCreateHash) BCryptCreateHash;
  decltype(&::BCryptHashData) BCryptHashData;
  decltype(&::BCryptFinishHash) BCryptFinishHash;
  decltype(&::BCryptDestroyHash) BCryptDestroyHash;
  bool messages = false;  // every crypt32 function is there
  bool hashes = false;    // every bcrypt function is there

  Api() {
    const HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
    // crypt32 finds the decoder of a signature's content in wintrust through the registry, by the
    // DLL's bare name: loaded here first by its path, that name is the module already in place.
    LoadSystemLibrary(L"wintrust.dll");
    const HMODULE bcrypt = LoadSystemLibrary(L"bcrypt.dll");
    Bind(crypt32, "CryptMsgOpenToDecode", CryptMsgOpenToDecode);
    Bind(crypt32, "CryptMsgUpdate", CryptMsgUpdate);
    Bind(crypt32, "CryptMsgGetParam", CryptMsgGetParam);
    Bind(crypt32, "CryptMsgControl", CryptMsgControl);
    Bind(crypt32, "CryptMsgClose", CryptMsgClose);
    Bind(crypt32, "CryptDecodeObjectEx", CryptDecodeObjectEx);
    Bind(crypt32, "CertOpenStore", CertOpenStore);
    Bind(crypt32, "CertCloseStore", CertCloseStore);
    Bind(crypt32, "CertGetSubjectCertificateFromStore", CertGetSubjectCertificateFromStore);
    Bind(crypt32, "CertFreeCertificateContext", CertFreeCertificateContext);
    Bind(crypt32, "CertNameToStrW", CertNameToStrW);
    Bind(bcrypt, "BCryptOpenAlgorithmProvider", BCryptOpenAlgorithmProvider);
    Bind(bcrypt, "BCryptCloseAlgorithmProvider", BCryptCloseAlgorithmProvider);
    Bind(bcrypt, "BCryptGetProperty", BCryptGetProperty);
    Bind(bcrypt, "BCryptCreateHash", BCryptCreateHash);
    Bind(bcrypt, "BCryptHashData", BCryptHashData);
    Bind(bcrypt, "BCryptFinishHash", BCryptFinishHash);
    Bind(bcrypt, "BCryptDestroyHash", BCryptDestroyHash);
    messages = CryptMsgOpenToDecode && CryptMsgUpdate && CryptMsgGetParam && CryptMsgControl && CryptMsgClose &&
               CryptDecodeObjectEx && CertOpenStore && CertCloseStore && CertGetSubjectCertificateFromStore &&
               CertFreeCertificateContext && CertNameToStrW;
    hashes = BCryptOpenAlgorithmProvider && BCryptCloseAlgorithmProvider && BCryptGetProperty && BCryptCreateHash &&
             BCryptHashData && BCryptFinishHash && BCryptDestroyHash;
  }
};

const Api& Crypto() {
  static const Api api;
  return api;
}

struct AlgorithmName {
  const char* oid;
  HashKind kind;
  const wchar_t* bcryptId;
};
const AlgorithmName kAlgorithms[] = {
    {"1.3.14.3.2.26", HashKind::Sha1, BCRYPT_SHA1_ALGORITHM},
    {"2.16.840.1.101.3.4.2.1", HashKind::Sha256, BCRYPT_SHA256_ALGORITHM},
    {"2.16.840.1.101.3.4.2.2", HashKind::Sha384, BCRYPT_SHA384_ALGORITHM},
    {"2.16.840.1.101.3.4.2.3", HashKind::Sha512, BCRYPT_SHA512_ALGORITHM},
};

bool KindOf(const char* oid, HashKind& kind) {
  for (const AlgorithmName& algorithm : kAlgorithms) {
    if (oid != nullptr && std::strcmp(oid, algorithm.oid) == 0) {
      kind = algorithm.kind;
      return true;
    }
  }
  return false;
}

// A bcrypt hash with the object memory Windows 7 wants from its caller.
struct BcryptHash {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::vector<UCHAR> object;
  ULONG length = 0;
  ~BcryptHash() {
    if (hash != nullptr) Crypto().BCryptDestroyHash(hash);
    if (algorithm != nullptr) Crypto().BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

struct MessageClose {
  void operator()(void* message) const { Crypto().CryptMsgClose(message); }
};
struct StoreClose {
  void operator()(void* store) const { Crypto().CertCloseStore(store, 0); }
};
struct CertificateFree {
  void operator()(const CERT_CONTEXT* certificate) const { Crypto().CertFreeCertificateContext(certificate); }
};
struct LocalRelease {
  void operator()(void* memory) const { LocalFree(memory); }
};

bool GetParam(HCRYPTMSG message, DWORD type, DWORD index, std::vector<BYTE>& value) {
  DWORD size = 0;
  if (!Crypto().CryptMsgGetParam(message, type, index, nullptr, &size)) return false;
  value.resize(size);
  if (size == 0) return true;
  if (!Crypto().CryptMsgGetParam(message, type, index, value.data(), &size)) return false;
  value.resize(size);
  return true;
}

// Decodes `size` bytes at `der` as the structure `type` into memory of the system's, or null.
template <typename T>
std::unique_ptr<T, LocalRelease> Decode(LPCSTR type, const BYTE* der, DWORD size) {
  void* value = nullptr;
  DWORD length = 0;
  if (!Crypto().CryptDecodeObjectEx(kEncoding, type, der, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &length)) {
    value = nullptr;
  }
  return std::unique_ptr<T, LocalRelease>(static_cast<T*>(value));
}

// The content of a package's signature, encoded as a whole (`content`): what is signed, then the
// image digest's algorithm and value.
bool ReadContent(HCRYPTMSG message, MessageSignature& signature, std::vector<BYTE>& content) {
  std::vector<BYTE> type;
  if (!GetParam(message, CMSG_INNER_CONTENT_TYPE_PARAM, 0, type) || type.empty() || type.back() != 0 ||
      std::strcmp(reinterpret_cast<const char*>(type.data()), SPC_INDIRECT_DATA_OBJID) != 0 ||
      !GetParam(message, CMSG_CONTENT_PARAM, 0, content) || content.empty()) {
    return false;
  }
  auto indirect = Decode<SPC_INDIRECT_DATA_CONTENT>(SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
                                                    static_cast<DWORD>(content.size()));
  if (!indirect) return false;
  const char* oid = indirect->DigestAlgorithm.pszObjId;
  signature.algorithmKnown = KindOf(oid, signature.algorithm);
  signature.algorithmName = signature.algorithmKnown ? HashName(signature.algorithm) : (oid != nullptr ? oid : "");
  signature.imageDigest.assign(indirect->Digest.pbData, indirect->Digest.pbData + indirect->Digest.cbData);
  return true;
}

// Whether the signer's signed attributes state the hash of the content octets (the content inside its
// own tag and length: the elements of the sequence, back to back). crypt32 is not asked for that
// hash: Wine's includes the content's tag and length, so every signature would look changed there.
bool MessageDigestMatches(const CMSG_SIGNER_INFO& signer, const std::vector<BYTE>& content) {
  HashKind kind;
  if (!KindOf(signer.HashAlgorithm.pszObjId, kind)) return false;
  const CRYPT_ATTRIBUTE* stated = nullptr;
  for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
    // The first, as libcrypto takes it on the other side.
    if (std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0 && attribute.cValue == 1) {
      stated = &attribute;
      break;
    }
  }
  if (stated == nullptr) return false;
  auto digest = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, stated->rgValue[0].pbData, stated->rgValue[0].cbData);
  auto elements =
      Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, content.data(), static_cast<DWORD>(content.size()));
  if (!digest || !elements) return false;
  Hash hash;
  if (!hash.Start(kind)) return false;
  for (DWORD i = 0; i < elements->cValue; ++i) {
    if (!hash.Update(elements->rgValue[i].pbData, elements->rgValue[i].cbData)) return false;
  }
  std::vector<std::uint8_t> computed;
  return hash.Finish(computed) && computed.size() == digest->cbData &&
         std::memcmp(computed.data(), digest->pbData, computed.size()) == 0;
}

// The signer's certificate from the message's own certificates, by issuer and serial number.
const CERT_CONTEXT* FindSigner(HCERTSTORE store, const CMSG_SIGNER_INFO& signer) {
  CERT_INFO wanted = {};
  wanted.Issuer = signer.Issuer;
  wanted.SerialNumber = signer.SerialNumber;
  return store == nullptr ? nullptr : Crypto().CertGetSubjectCertificateFromStore(store, kEncoding, &wanted);
}

std::string SubjectText(const CERT_CONTEXT* certificate) {
  wchar_t text[1024];
  CERT_NAME_BLOB subject = certificate->pCertInfo->Subject;
  const DWORD length = Crypto().CertNameToStrW(X509_ASN_ENCODING, &subject, CERT_X500_NAME_STR, text, 1024);
  return length > 1 ? Narrow(text, length - 1) : std::string();
}

bool ReadMessage(const BYTE* der, DWORD size, int depth, std::vector<MessageSignature>& signatures);

// The unsigned attributes of a signer: nested signatures are read after it; a timestamp is noted.
bool ReadUnsignedAttributes(const CMSG_SIGNER_INFO& signer, int depth, std::vector<MessageSignature>& signatures) {
  const std::size_t own = signatures.size() - 1;
  for (DWORD i = 0; i < signer.UnauthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[i];
    if (std::strcmp(attribute.pszObjId, kTimestampTokenOid) == 0 ||
        std::strcmp(attribute.pszObjId, szOID_RSA_counterSign) == 0) {
      signatures[own].timestamped = true;
    } else if (std::strcmp(attribute.pszObjId, kNestedSignatureOid) == 0) {
      for (DWORD v = 0; v < attribute.cValue; ++v) {
        if (!ReadMessage(attribute.rgValue[v].pbData, attribute.rgValue[v].cbData, depth + 1, signatures)) {
          return false;
        }
      }
    }
  }
  return true;
}

// One signer of a decoded message: its certificate's subject, and whether its signature holds.
bool ReadSigner(HCRYPTMSG message, HCERTSTORE store, DWORD index, const MessageSignature& base,
                const std::vector<BYTE>& content, std::vector<MessageSignature>& signatures) {
  std::vector<BYTE> info;
  signatures.push_back(base);
  if (!GetParam(message, CMSG_SIGNER_INFO_PARAM, index, info) || info.size() < sizeof(CMSG_SIGNER_INFO)) {
    signatures.back().readable = false;
    return true;
  }
  const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  std::unique_ptr<const CERT_CONTEXT, CertificateFree> certificate(FindSigner(store, signer));
  if (certificate) {
    signatures.back().subject = SubjectText(certificate.get());
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof verify;
    verify.dwSignerIndex = index;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
    signatures.back().contentIntact = MessageDigestMatches(signer, content) &&
                                      Crypto().CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify);
  }
  return ReadUnsignedAttributes(signer, base.depth, signatures);
}

bool ReadMessage(const BYTE* der, DWORD size, int depth, std::vector<MessageSignature>& signatures) {
  if (depth > kMaxSignatureDepth || signatures.size() >= kMaxMessageSignatures) return false;
  MessageSignature base;
  base.depth = depth;
  std::unique_ptr<void, MessageClose> message(Crypto().CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  std::vector<BYTE> type, count, content;
  if (!message || !Crypto().CryptMsgUpdate(message.get(), der, size, TRUE) ||
      !GetParam(message.get(), CMSG_TYPE_PARAM, 0, type) || type.size() != sizeof(DWORD) ||
      *reinterpret_cast<const DWORD*>(type.data()) != CMSG_SIGNED || !ReadContent(message.get(), base, content) ||
      !GetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, count) || count.size() != sizeof(DWORD) ||
      *reinterpret_cast<const DWORD*>(count.data()) == 0) {
    signatures.push_back(base);
    signatures.back().readable = false;
    return true;
  }
  base.readable = true;
  std::unique_ptr<void, StoreClose> store(
      Crypto().CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
  const DWORD signers = *reinterpret_cast<const DWORD*>(count.data());
  for (DWORD i = 0; i < signers; ++i) {
    if (signatures.size() >= kMaxMessageSignatures) return false;
    if (!ReadSigner(message.get(), store.get(), i, base, content, signatures)) return false;
  }
  return true;
}

}  // namespace

Hash::~Hash() { delete static_cast<BcryptHash*>(state_); }

Hash& Hash::operator=(Hash&& other) noexcept {
  if (this != &other) {
    delete static_cast<BcryptHash*>(state_);
    state_ = other.state_;
    other.state_ = nullptr;
  }
  return *this;
}

bool Hash::Start(HashKind kind) {
  delete static_cast<BcryptHash*>(state_);
  state_ = nullptr;
  const wchar_t* id = nullptr;
  for (const AlgorithmName& algorithm : kAlgorithms) {
    if (algorithm.kind == kind) id = algorithm.bcryptId;
  }
  const Api& api = Crypto();
  std::unique_ptr<BcryptHash> hash(new (std::nothrow) BcryptHash);
  if (id == nullptr || !api.hashes || !hash ||
      !BCRYPT_SUCCESS(api.BCryptOpenAlgorithmProvider(&hash->algorithm, id, nullptr, 0))) {
    return false;
  }
  DWORD objectLength = 0, got = 0;
  if (!BCRYPT_SUCCESS(api.BCryptGetProperty(hash->algorithm, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectLength), sizeof objectLength, &got, 0)) ||
      !BCRYPT_SUCCESS(api.BCryptGetProperty(hash->algorithm, BCRYPT_HASH_LENGTH,
                                            reinterpret_cast<PUCHAR>(&hash->length), sizeof hash->length, &got, 0))) {
    return false;
  }
  hash->object.resize(objectLength);
  if (!BCRYPT_SUCCESS(
          api.BCryptCreateHash(hash->algorithm, &hash->hash, hash->object.data(), objectLength, nullptr, 0, 0))) {
    hash->hash = nullptr;
    return false;
  }
  state_ = hash.release();
  return true;
}

bool Hash::Update(const std::uint8_t* data, std::uint32_t size) {
  auto* hash = static_cast<BcryptHash*>(state_);
  if (hash != nullptr && BCRYPT_SUCCESS(Crypto().BCryptHashData(hash->hash, const_cast<PUCHAR>(data), size, 0))) {
    return true;
  }
  delete hash;
  state_ = nullptr;
  return false;
}

bool Hash::Finish(std::vector<std::uint8_t>& digest) {
  auto* hash = static_cast<BcryptHash*>(state_);
  if (hash == nullptr) return false;
  digest.resize(hash->length);
  const bool done = BCRYPT_SUCCESS(Crypto().BCryptFinishHash(hash->hash, digest.data(), hash->length, 0));
  delete hash;
  state_ = nullptr;
  return done;
}

bool ReadSignedMessage(const std::uint8_t* der, std::uint32_t size, std::vector<MessageSignature>& signatures) {
  if (!Crypto().messages) {
    // Without crypt32 no signature can be read: each is one that does not match.
    signatures.push_back(MessageSignature{});
    return true;
  }
  return ReadMessage(der, size, 0, signatures);
}

}  // namespace platform
