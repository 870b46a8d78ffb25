// The PE version reader on arbitrary bytes: it must never read outside them, and whatever it
// reports must be one of its three answers, with a version only when it found a fixed part.
#include <cstdint>
#include <cstdlib>

#include "platform/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  std::uint32_t ms = 0x5A5A5A5Au, ls = 0xA5A5A5A5u;
  const platform::VersionBlock block = ReadPeFileVersion(data, static_cast<std::uint32_t>(size), ms, ls);
  if (block != platform::VersionBlock::Fixed && (ms != 0x5A5A5A5Au || ls != 0xA5A5A5A5u)) std::abort();
  return 0;
}
