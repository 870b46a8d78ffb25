// PackageChecksum: one pass through a fixed buffer, so checking a package of any size costs no
// memory beyond 50000 bytes.
#include "package/checksum.h"

#include <cstring>
#include <memory>

namespace {

// A multiple of 4, so every chunk starts on a word boundary of the file.
constexpr std::uint32_t kChecksumChunk = 50000;
static_assert(kChecksumChunk % 4 == 0, "chunks must start on word boundaries");

std::uint32_t LittleEndianWord(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

}  // namespace

bool PackageChecksum(PackageInput input, void* context, std::uint32_t length, std::uint32_t& sum) {
  std::uint8_t buffer[kChecksumChunk];
  sum = 0;
  std::uint32_t remaining = length;
  while (remaining != 0) {
    const std::uint32_t want = remaining < kChecksumChunk ? remaining : kChecksumChunk;
    // The input may deliver less than asked (a pipe, a reader with its own buffer): fill the chunk.
    std::uint32_t have = 0;
    while (have < want) {
      std::uint32_t got = 0;
      if (!input(context, buffer + have, want - have, got) || got == 0) return false;
      have += got;
    }
    // Only the package's last chunk can end inside a word: its missing bytes count as zeros, so the
    // sum never depends on what the buffer held before.
    const std::uint32_t padded = (want + 3) & ~3u;
    std::memset(buffer + want, 0, padded - want);
    for (std::uint32_t offset = 0; offset < padded; offset += 4) sum += LittleEndianWord(buffer + offset);
    remaining -= want;
  }
  return true;
}

std::uint32_t LoadChecksumWord(const std::uint8_t (&bytes)[kChecksumSize]) { return LittleEndianWord(bytes); }

void StoreChecksumWord(std::uint32_t sum, std::uint8_t (&bytes)[kChecksumSize]) {
  for (std::uint32_t i = 0; i < kChecksumSize; ++i) bytes[i] = static_cast<std::uint8_t>(sum >> (8 * i));
}
