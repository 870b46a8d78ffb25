// qorpack verify's lines on a signed package's signatures.
#include "tools/signature_lines.h"

#include <cstdio>
#include <string>

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
