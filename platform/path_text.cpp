// Path lengths as Windows counts them, and the private folders' names: the same on both hosts, so a
// package judged natively is judged as the installer judges it.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

std::size_t SequenceLength(const unsigned char* p, std::size_t left) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::size_t PathLength(const std::string& path) {
  const auto* p = reinterpret_cast<const unsigned char*>(path.data());
  std::size_t left = path.size(), units = 0;
  while (left > 0) {
    const std::size_t length = p[0] < 0x80 ? 1 : SequenceLength(p, left);
    const std::size_t step = length == 0 ? 1 : length;
    units += length == 4 ? 2 : 1;  // a character past U+FFFF takes a surrogate pair
    p += step;
    left -= step;
  }
  return units;
}

bool PathFits(const std::string& path) {
  return path.size() < kPathCapacity && PathLength(path) <= kMaxPathLength;
}

bool PrivateFolderName(std::string& name) {
  unsigned char random[8];
  if (!RandomBytes(random, sizeof random)) return false;
  char text[24];
  std::snprintf(text, sizeof text, "Qor%02X%02X%02X%02X%02X%02X%02X%02X", random[0], random[1], random[2], random[3],
                random[4], random[5], random[6], random[7]);
  name = text;
  return true;
}

}  // namespace platform
