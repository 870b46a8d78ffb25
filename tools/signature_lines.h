// qorpack verify's part on signed packages: the installer's own check of every signature, and a line
// for each signature that says what it is. The facts stay a list of values (SignatureFacts), so that
// any other printer can show them too.
#pragma once

#include <vector>

#include "installer/signature_check.h"

// Checks the signatures of the package in `file` as the installer does (CheckPackageSignatures).
// On a refusal prints the signature lines and the installer's verdict and returns 1; a file that
// cannot be read is reported and gives 1 too. 0 when the package is unsigned or every signature
// matches; `facts` then holds what each signature says.
int VerifySignatures(platform::File& file, const PackageExtent& extent, std::vector<SignatureFacts>& facts);

// "signature 1: CN=...: SHA-256, no timestamp, matches" for each signature, a nested one as
// "signature 2, nested in 1: ...", on standard output.
void PrintSignatureFacts(const std::vector<SignatureFacts>& facts);
