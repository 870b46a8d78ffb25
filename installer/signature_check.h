// A package's checksum and, when it is signed, its signatures against its own bytes: every
// signature's image digest, nested ones included, compared with the digest of the package as it is,
// before anything is extracted, in the same read of the file as the checksum. The installer and
// `qorpack verify` judge with this one check. It shows that the package is the one that was signed,
// not who signed it: no certificate is trusted or refused here.
#pragma once

#include <string>
#include <vector>

#include "installer/session.h"
#include "package/signature.h"
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

// The installer's check of its own file: VerifyPackageAndSignatures on the running package, each
// signature written to the /log record ("signature: ..." or "nested signature: ...").
Failure VerifyOwnPackage(InstallSession& session, PackageExtent& extent);

// "CN=Signer, O=Maker: SHA-256, timestamped, matches" (or "no timestamp", "does not match"), with
// the subject's control characters escaped.
std::string DescribeSignatureFacts(const SignatureFacts& facts);
