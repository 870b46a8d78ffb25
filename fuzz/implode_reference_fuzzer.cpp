// Fuzz target: the encoder against the tests' plain reference encoder, which writes the coding
// rules out without any of the encoder's shortcuts (prefix chains, listed runs, skip links): both
// must give the same stream. The fuzz input is a recipe for the data rather than the data, so
// that the shapes those shortcuts are for come up often: runs of one byte of every length, side by
// side and apart, and repeats of what came before at every distance.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/implode.h"
#include "codec_test_support.h"
#include "stream_io.h"

namespace {

// Three blocks and more, so that the window moves twice; small enough for the reference's scans.
constexpr std::size_t kMaxData = 3 * kImplodeBlock + 700;

// The recipe: after one byte of settings, pairs (a, b). b below 192 adds a run of byte a, b % 48 + 1
// long; otherwise b - 191 bytes (1 to 64) are repeated from a + 1 bytes back (or a's own run when
// nothing is there yet).
std::vector<std::uint8_t> Cook(const std::uint8_t* recipe, std::size_t size) {
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i + 1 < size && data.size() < kMaxData; i += 2) {
    const std::uint8_t a = recipe[i], b = recipe[i + 1];
    if (b < 192) {
      data.insert(data.end(), b % 48 + 1u, a);
    } else {
      const std::size_t back = a + 1u;
      for (std::size_t n = 0; n < b - 191u; ++n) data.push_back(data.size() >= back ? data[data.size() - back] : a);
    }
  }
  if (data.size() > kMaxData) data.resize(kMaxData);
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* recipe, std::size_t size) {
  if (size < 1) return 0;
  const std::uint32_t literalMode = recipe[0] & 1;
  const std::uint32_t dictionary = 1024u << ((recipe[0] >> 1) % 3);
  const std::vector<std::uint8_t> data = Cook(recipe + 1, size - 1);
  auto state = std::make_unique<ImplodeState>();
  fuzz_io::Io io{data.data(), data.size(), 0, 0xFFFFFFFFu, {}};
  if (ImplodeStream(fuzz_io::Read, fuzz_io::Write, state.get(), &io, literalMode, dictionary) != kImplodeOk) std::abort();
  if (io.output != codec_test::ReferenceImplode(data, literalMode, dictionary)) {
    std::fprintf(stderr, "implode_reference_fuzzer: the encoder and the reference disagree\n");
    std::abort();
  }
  return 0;
}
