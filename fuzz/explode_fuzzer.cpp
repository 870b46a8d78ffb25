// Fuzz target: the decoder on arbitrary bytes. It must stay inside its buffers whatever the stream
// says, decode the same bytes whatever sizes the input arrives in and whichever kind of its inner
// loop runs, and never pass a capacity.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/explode.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "explode_fuzzer: %s\n", what);
    std::abort();
  }
}

// The whole output would be several hundred times the input; past this the test stops collecting.
constexpr std::size_t kOutputLimit = 8u << 20;

struct Io {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  std::uint32_t firstRead;
  std::uint32_t laterReads;
  std::uint32_t reads;
  std::vector<std::uint8_t> output;
  std::vector<std::uint32_t> chunks;
};

std::uint32_t Read(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& io = *static_cast<Io*>(parameter);
  Check(*size == kExplodeInputSize, "read asks for other than 2048 bytes");
  std::size_t count = io.reads++ == 0 ? io.firstRead : io.laterReads;
  if (count > io.size - io.position) count = io.size - io.position;
  for (std::size_t i = 0; i < count; ++i) buffer[i] = io.data[io.position + i];
  io.position += count;
  return static_cast<std::uint32_t>(count);
}

void Write(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& io = *static_cast<Io*>(parameter);
  io.chunks.push_back(*size);
  if (io.output.size() < kOutputLimit) io.output.insert(io.output.end(), buffer, buffer + *size);
}

struct Decoded {
  ExplodeResult result;
  std::vector<std::uint8_t> output;
};

Decoded Decode(const std::uint8_t* data, std::size_t size, std::uint32_t firstRead, std::uint32_t laterReads) {
  auto state = std::make_unique<ExplodeState>();
  Io io{data, size, 0, firstRead, laterReads, 0, {}, {}};
  const ExplodeResult result = ExplodeStream(Read, Write, state.get(), &io);
  Check(result <= kExplodeInputEnded, "unknown result");
  if (result == kExplodeOk || result == kExplodeInputEnded) {
    Check(!io.chunks.empty() && io.chunks.back() < 4096, "no final chunk below 4096 bytes");
    for (std::size_t i = 0; i + 1 < io.chunks.size(); ++i) Check(io.chunks[i] == 4096, "inner chunk not 4096 bytes");
  } else {
    Check(io.chunks.empty(), "write before a header result");
  }
  return {result, std::move(io.output)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const Decoded whole = Decode(data, size, 2048, 2048);
  if (whole.result != kExplodeInputTooShort) {
    // Deliveries of 5 bytes, then 1 or 3 at a time, see every token reach the end of the input.
    for (std::uint32_t later : {1u, 3u}) {
      const Decoded trickled = Decode(data, size, 5, later);
      Check(trickled.result == whole.result, "result depends on delivery sizes");
      Check(trickled.output == whole.output, "output depends on delivery sizes");
    }
    // Both kinds of the inner loop, the one for 64-bit and the one for 32-bit registers (a host
    // runs only one of them), decode alike.
    for (ExplodeLoop loop : {ExplodeLoop::kWide, ExplodeLoop::kNarrow}) {
      ExplodeUseLoop(loop);
      const Decoded kind = Decode(data, size, 2048, 2048);
      ExplodeUseLoop(ExplodeLoop::kHost);
      Check(kind.result == whole.result, "result depends on the loop kind");
      Check(kind.output == whole.output, "output depends on the loop kind");
    }
  }

  // The memory wrapper with a capacity taken from the output: exact, and one byte short.
  if (whole.output.size() < kOutputLimit) {
    for (std::size_t less : {0u, 1u}) {
      if (less > whole.output.size()) continue;
      const std::size_t capacity = whole.output.size() - less;
      std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[capacity]);
      const std::int32_t got =
          ExplodeBuffer(destination.get(), static_cast<std::uint32_t>(capacity), data, static_cast<std::uint32_t>(size));
      if (whole.result != kExplodeOk || less == 1) {
        Check(got == -1, "failure reported as success");
      } else {
        Check(got == static_cast<std::int32_t>(capacity), "wrong decoded length");
      }
    }
  }
  // Capacities with room to spare, which let the wrapper decode straight into the destination once
  // its first 4096 bytes are there: the least that does, and more. The same bytes as the stream.
  if (whole.result == kExplodeOk && whole.output.size() < kOutputLimit) {
    const std::size_t least = kExplodeWindowSize + kExplodeCopySlack;
    for (std::size_t capacity : {least > whole.output.size() ? least : whole.output.size(), whole.output.size() + least,
                                 whole.output.size() + (1u << 16)}) {
      std::vector<std::uint8_t> destination(capacity);
      const std::int32_t got = ExplodeBuffer(destination.data(), static_cast<std::uint32_t>(capacity), data,
                                             static_cast<std::uint32_t>(size));
      Check(got == static_cast<std::int32_t>(whole.output.size()), "wrong decoded length with room to spare");
      Check(std::equal(whole.output.begin(), whole.output.end(), destination.begin()),
            "the memory wrapper decodes other bytes than the stream decoder");
    }
  }
  return 0;
}
