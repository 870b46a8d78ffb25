// A package's checksum and, when it is signed, its signatures against its own bytes: every
// signature's image digest, nested ones included, compared with the digest of the package as it is.
// `qorpack verify` computes the digest in the same read of the file as the checksum; the installer
// computes it on a thread of its own while it extracts, and judges before it starts or shows
// anything (OwnSignatureCheck). Both judge with the same rules. It shows that the package is the one
// that was signed, not who signed it: no certificate is trusted or refused here.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "package/signature.h"
#include "platform/signed_message.h"
#include "platform/platform.h"
#include "script/failure.h"

// What one signature of a package says, in the order the certificate table holds them (a nested
// signature right after the one it is nested in): for the record of an install and qorpack's output.
struct SignatureFacts {
  int depth = 0;                // 0 for a signature of the table, 1 for one nested in it, ...
  std::string subject;          // the signer certificate's subject (platform text), empty when unknown
  std::string digestAlgorithm;  // "SHA-256", or the object identifier of an algorithm not checked here
  bool timestamped = false;     // it carries a timestamp (whose own signature is not checked)
  bool digestMatches = false;   // it names the package's image digest, and its content is as signed
};

// A certificate table larger than this is refused unread: signers write a few kilobytes.
constexpr std::uint32_t kMaxCertificateTable = 4u << 20;

// VerifyPackage (the checksum, with its failures), then for a package it reads as signed every
// signature of its certificate table. Fails with code 2 and "the signature does not match the
// package" when a signature's image digest is not the package's, its signed content was changed or
// it cannot be decoded; with code 2 and a reason of its own when the table is damaged, holds no
// signature, is too large, or a signature names a digest algorithm that is not checked here; with
// code 3 when the file cannot be read. An unsigned package is checked exactly as VerifyPackage does.
// `facts` receives what each signature says, also when a signature fails. Leaves the file position
// anywhere.
Failure VerifyPackageAndSignatures(platform::File& file, PackageExtent& extent, std::vector<SignatureFacts>& facts);

class DigestTap;

// The installer's check of its own file, in two halves: Begin judges everything that needs no image
// digest and starts the digest on a thread of its own; Finish waits for it and gives the verdict.
// VerifyPackageAndSignatures gives the same verdict for the same file. Hashing the package costs as
// much processor time as unpacking it under Wine's system hashes, so the installer extracts into its
// private folder meanwhile and asks for the verdict before it runs, shows or keeps anything (see
// installer.cpp). Not copyable; the destructor stops the thread and waits for it.
class OwnSignatureCheck {
 public:
  OwnSignatureCheck();
  ~OwnSignatureCheck();
  OwnSignatureCheck(const OwnSignatureCheck&) = delete;
  OwnSignatureCheck& operator=(const OwnSignatureCheck&) = delete;

  // VerifyPackageAndSignatures on `file` up to the digest: the checksum and its failures, then the
  // certificate table and every signature's decoding and algorithm, failing as it does. For a package
  // that passes and is signed, the digest is then computed through `second`, another handle of the
  // same file that the caller opened and identified (the thread reads through it, since a handle has
  // one position and the extraction moves `file`'s), and Finish has the verdict. Without `second`
  // open, or when no thread can be started, the digest is computed here and the verdict is Begin's.
  // The positions of both files are left anywhere.
  Failure Begin(platform::File& file, platform::File second, PackageExtent& extent);
  // The verdict: Begin's failure, or the digests' (code 2, "the signature does not match the
  // package", or code 3 when the file cannot be read), waiting for the thread when it runs. Success
  // for a package that is not signed, and when Begin was not called. Closes the second handle.
  // May be called again: the same verdict.
  Failure Finish();
  // What each signature says, once Finish has been called.
  const std::vector<SignatureFacts>& facts() const { return facts_; }

 private:
  void Hash();  // the thread's work: every digest, from the second handle
  void Stop();  // stops the thread, waits for it, drops the digests and closes the second handle

  std::vector<platform::MessageSignature> signatures_;
  std::unique_ptr<DigestTap> tap_;  // the digests' reader, when they are computed
  platform::File second_;
  std::thread thread_;
  std::atomic<bool> stop_{false};           // set when the verdict is no longer wanted
  Failure digestFailure_;                   // what computing the digests met, set by the thread
  std::array<std::vector<std::uint8_t>, 4> digests_;  // by platform::HashKind, set by the thread
  bool pending_ = false;                    // the digests are computed and not judged yet
  Failure verdict_;
  std::vector<SignatureFacts> facts_;
};

// "CN=Signer, O=Maker: SHA-256, timestamped, matches" (or "no timestamp", "does not match"), with
// the subject's control characters escaped.
std::string DescribeSignatureFacts(const SignatureFacts& facts);
