// Script text and platform text are the same bytes natively: names are handed to the file system
// as the packing list or the package holds them.
#include "platform/platform.h"

namespace platform {

std::string FromScriptText(const std::string& text) { return text; }
std::string ToScriptText(const std::string& text) { return text; }
std::string FromScriptText(const std::string& text, std::uint32_t) { return text; }

namespace {

// The upper case of a Windows-1252 byte: a-z, the accented letters E0-FE (but F7, the division
// sign), and the four letters whose capitals lie in 80-9F (š, œ, ž, ÿ).
unsigned char UpperCase1252(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

}  // namespace

bool SameScriptName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperCase1252(static_cast<unsigned char>(a[i])) != UpperCase1252(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace platform
