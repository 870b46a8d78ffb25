// EscapeControls: hostile bytes as visible escapes.
#include "script/printable.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

void Escape(unsigned char byte, std::string& out) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\x%02X", byte);
  out += escape;
}

}  // namespace

std::string EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char byte = bytes[i];
    // A path from the system is UTF-8, whose characters use the bytes 80-9F too: those stay whole,
    // but for the C1 controls themselves (C2 80 to C2 9F).
    const std::size_t length = platform::SequenceLength(bytes + i, text.size() - i);
    if (length != 0) {
      const bool control = byte == 0xC2 && bytes[i + 1] <= 0x9F;
      for (std::size_t k = 0; k < length; ++k) {
        if (control) {
          Escape(bytes[i + k], out);
        } else {
          out += static_cast<char>(bytes[i + k]);
        }
      }
      i += length;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
      Escape(byte, out);
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return out;
}
