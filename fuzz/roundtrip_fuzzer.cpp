// Fuzz target: compressing arbitrary bytes in any of the six settings and decompressing the stream
// gives the bytes back, the stream never exceeds all-literal size in binary mode, and the read
// callback's delivery sizes do not change the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/explode.h"
#include "codec/implode.h"
#include "stream_io.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "implode_roundtrip_fuzzer: %s\n", what);
    std::abort();
  }
}

using fuzz_io::Io;
using fuzz_io::Read;
using fuzz_io::Write;

std::vector<std::uint8_t> Compress(const std::uint8_t* data, std::size_t size, std::uint32_t mode,
                                   std::uint32_t dictionary, std::uint32_t deliver) {
  auto state = std::make_unique<ImplodeState>();
  Io io{data, size, 0, deliver, {}};
  Check(ImplodeStream(Read, Write, state.get(), &io, mode, dictionary) == kImplodeOk, "settings refused");
  return std::move(io.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // First byte: the settings and how the input is delivered; the rest is the data.
  if (size == 0 || size > (1u << 20)) return 0;
  const std::uint32_t mode = data[0] & 1;
  const std::uint32_t dictionary = 1024u << ((data[0] >> 1) % 3);
  const std::uint32_t deliver = 1u + ((data[0] >> 3) * 331u) % 4500u;
  const std::uint8_t* input = data + 1;
  const std::size_t length = size - 1;

  const std::vector<std::uint8_t> stream = Compress(input, length, mode, dictionary, 0xFFFFFFFFu);
  Check(Compress(input, length, mode, dictionary, deliver) == stream, "stream depends on delivery sizes");
  if (mode == 0) Check(stream.size() <= 4 + (9 * length + 7) / 8, "stream longer than all literals");
  if (length == 0) {
    Check(stream.size() == 4, "empty input gives other than header and end code");
    return 0;
  }

  auto state = std::make_unique<ExplodeState>();
  Io io{stream.data(), stream.size(), 0, 0xFFFFFFFFu, {}};
  Check(ExplodeStream(Read, Write, state.get(), &io) == kExplodeOk, "own stream does not decode");
  Check(io.output.size() == length, "decoded length differs");
  for (std::size_t i = 0; i < length; ++i) Check(io.output[i] == input[i], "decoded bytes differ");
  return 0;
}
