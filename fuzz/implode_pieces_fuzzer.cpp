// Fuzz target: the encoder in pieces gives exactly ImplodeStream's stream for arbitrary bytes, in
// any of the six settings, with any chunk size, run-on and number of pieces in flight.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/implode.h"
#include "codec/implode_pieces.h"
#include "stream_io.h"

namespace {

using fuzz_io::Io;
using fuzz_io::Read;
using fuzz_io::Write;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Three bytes of settings, then the data. The data is stretched by repeating it (with every
  // repetition's first byte changed) so that short fuzz inputs still span several chunks.
  if (size < 3 || size > (1u << 18)) return 0;
  const std::uint32_t mode = data[0] & 1;
  const std::uint32_t dictionary = 1024u << ((data[0] >> 1) % 3);
  ImplodePieceLimits limits;
  limits.chunk = 4096u * (1 + (data[0] >> 3) % 4);
  limits.runOn = (data[1] % 16) * 600u;
  limits.inFlight = 1 + (data[1] >> 4) % 4;
  const std::uint32_t repeats = 1 + data[2] % 8;
  std::vector<std::uint8_t> input;
  for (std::uint32_t r = 0; r < repeats; ++r) {
    const std::size_t start = input.size();
    input.insert(input.end(), data + 3, data + size);
    if (input.size() > start) input[start] = static_cast<std::uint8_t>(input[start] + r);
  }

  auto state = std::make_unique<ImplodeState>();
  Io whole{input.data(), input.size(), 0, 0xFFFFFFFFu, {}};
  if (ImplodeStream(Read, Write, state.get(), &whole, mode, dictionary) != kImplodeOk) std::abort();
  ImplodePiecesInTurn runner;
  Io pieces{input.data(), input.size(), 0, 1u + data[2] * 97u, {}};
  if (ImplodeInPieces(Read, Write, &pieces, mode, dictionary, limits, runner) != kImplodeOk ||
      pieces.output != whole.output) {
    std::fprintf(stderr, "implode_pieces_fuzzer: the pieces' stream differs (chunk %u, run-on %u)\n", limits.chunk,
                 limits.runOn);
    std::abort();
  }
  return 0;
}
