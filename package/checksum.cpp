// PackageChecksum: one pass over the package through a fixed buffer, so checking a package of any
// size costs no memory beyond 50000 bytes.
#include "package/checksum.h"

#include <cstdio>
#include <cstring>

#include "app/fatal.h"
#include "app/process_state.h"
#include "package/layout.h"

namespace {

// A multiple of 4, so every chunk starts on a word boundary of the file.
constexpr std::uint32_t kChecksumChunk = 50000;
static_assert(kChecksumChunk % 4 == 0, "chunks must start on word boundaries");

std::uint32_t LittleEndianWord(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

[[noreturn]] void Fail(const char* text, const char* scriptPath) {
  std::snprintf(lastMessage, sizeof lastMessage, "%s", text);
  ReportFatal(kFatalFile, scriptPath);
}

}  // namespace

std::uint32_t PackageChecksum(platform::File& file, std::int32_t mode, const char* scriptPath) {
  static const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...";
  std::uint32_t length = 0;
  if (!platform::SeekEnd(file, length)) Fail(kReadFailed, scriptPath);
  // Shorter than the checksum word: no package, so nothing can match and nothing can be written.
  if (length < kChecksumSize) {
    if (mode == kChecksumVerify) return 0;
    Fail("Unable to write checksum", scriptPath);
  }
  if (!platform::Seek(file, 0)) Fail(kReadFailed, scriptPath);

  std::uint8_t buffer[kChecksumChunk];
  std::uint32_t sum = 0;
  std::uint32_t remaining = length - kChecksumSize;
  while (remaining != 0) {
    const std::uint32_t want = remaining < kChecksumChunk ? remaining : kChecksumChunk;
    std::uint32_t got = 0;
    if (!platform::ReadFile(file, buffer, want, got) || got != want) Fail(kReadFailed, scriptPath);
    // The builder only writes lengths that are multiples of 4. For any other file the last word
    // is completed with zero bytes, so the sum never depends on what the buffer held before.
    const std::uint32_t padded = (want + 3) & ~3u;
    std::memset(buffer + want, 0, padded - want);
    for (std::uint32_t offset = 0; offset < padded; offset += 4) sum += LittleEndianWord(buffer + offset);
    remaining -= want;
  }

  std::uint8_t stored[kChecksumSize];
  if (mode == kChecksumVerify) {
    std::uint32_t got = 0;
    if (!platform::ReadFile(file, stored, kChecksumSize, got) || got != kChecksumSize) {
      Fail(kReadFailed, scriptPath);
    }
    return LittleEndianWord(stored) == sum ? 1 : 0;
  }
  for (std::uint32_t i = 0; i < kChecksumSize; ++i) stored[i] = static_cast<std::uint8_t>(sum >> (8 * i));
  if (!platform::WriteFile(file, stored, kChecksumSize)) Fail("Unable to write checksum", scriptPath);
  return 1;
}
