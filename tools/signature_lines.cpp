// qorpack verify's lines on a signed package's signatures, as text and as JSON.
#include "tools/signature_lines.h"

#include <cstdio>

#include "tools/json_text.h"

namespace {

// The 1-based number of the signature that signature `i` is nested in, 0 for one of the table: a
// nested signature follows the signature it is nested in, and the ones nested before it.
std::size_t NestedIn(const std::vector<SignatureFacts>& facts, std::size_t i) {
  for (std::size_t parent = i; facts[i].depth > 0 && parent-- > 0;) {
    if (facts[parent].depth == facts[i].depth - 1) return parent + 1;
  }
  return 0;
}

}  // namespace

void PrintSignatureFacts(const std::vector<SignatureFacts>& facts) {
  for (std::size_t i = 0; i < facts.size(); ++i) {
    std::string label = "signature " + std::to_string(i + 1);
    if (const std::size_t parent = NestedIn(facts, i)) label += ", nested in " + std::to_string(parent);
    std::printf("%s: %s\n", label.c_str(), DescribeSignatureFacts(facts[i]).c_str());
  }
}

std::string SignatureFactsJson(const std::vector<SignatureFacts>& facts) {
  std::string out = "[";
  for (std::size_t i = 0; i < facts.size(); ++i) {
    const SignatureFacts& fact = facts[i];
    const std::size_t parent = NestedIn(facts, i);
    const std::string subject = fact.subject.empty() ? "null" : JsonPlatformText(fact.subject);
    out += std::string(i == 0 ? "" : ",") + "\n  {\"subject\": " + subject +
           ", \"digestAlgorithm\": " + JsonPlatformText(fact.digestAlgorithm) +
           ", \"timestamped\": " + (fact.timestamped ? "true" : "false") +
           ", \"matches\": " + (fact.digestMatches ? "true" : "false") +
           ", \"nestedIn\": " + (parent == 0 ? "null" : std::to_string(parent)) + "}";
  }
  return out + "]";
}
