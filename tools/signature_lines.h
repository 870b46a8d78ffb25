// qorpack verify's lines on a signed package's signatures. The facts come as a list of values
// (SignatureFacts, from the installer's own check), so that any other printer can show them too.
#pragma once

#include <string>
#include <vector>

#include "installer/signature_check.h"

// "signature 1: CN=...: SHA-256, no timestamp, matches" for each signature, a nested one as
// "signature 2, nested in 1: ...", on standard output.
void PrintSignatureFacts(const std::vector<SignatureFacts>& facts);

// verify --json's "signatures": a JSON array with an object per signature, in the same order:
// subject (null when unknown), digestAlgorithm, timestamped, matches, and nestedIn (the 1-based
// number of the signature it is nested in, or null).
std::string SignatureFactsJson(const std::vector<SignatureFacts>& facts);
