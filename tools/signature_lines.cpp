// qorpack verify's lines on a signed package's signatures, and its verdict on them.
#include "tools/signature_lines.h"

#include <cstdio>
#include <string>

#include "script/printable.h"

int VerifySignatures(platform::File& file, const PackageExtent& extent, std::vector<SignatureFacts>& facts) {
  const Failure failure = CheckPackageSignatures(file, extent, facts);
  if (!failure) return 0;
  PrintSignatureFacts(facts);
  if (failure.code == kFatalFile) {
    std::fprintf(stderr, "qorpack: %s\n", failure.reason.c_str());
  } else {
    std::fprintf(stderr, "qorpack: the installer refuses this package: error code %d: %s\n", failure.code,
                 EscapeControls(failure.reason).c_str());
  }
  return 1;
}

void PrintSignatureFacts(const std::vector<SignatureFacts>& facts) {
  for (std::size_t i = 0; i < facts.size(); ++i) {
    std::string label = "signature " + std::to_string(i + 1);
    // A nested signature follows the signature it is nested in, and the ones nested before it.
    for (std::size_t parent = i; facts[i].depth > 0 && parent-- > 0;) {
      if (facts[parent].depth == facts[i].depth - 1) {
        label += ", nested in " + std::to_string(parent + 1);
        break;
      }
    }
    std::printf("%s: %s\n", label.c_str(), DescribeSignatureFacts(facts[i]).c_str());
  }
}
