// qorpack implode / explode: the stream coders between standard input and standard output, for
// looking at what the package builder stores and for checking streams by hand.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "codec/explode.h"
#include "codec/implode.h"
#include "tools/commands.h"

namespace {

struct StandardStreams {
  bool writeFailed = false;
  std::uint64_t written = 0;
};

std::uint32_t ReadStandardInput(std::uint8_t* buffer, std::uint32_t* size, void*) {
  // fread keeps reading until the size is met or the input ends, so a short count means the end,
  // and the decoder's first read is never cut short by a pipe.
  return static_cast<std::uint32_t>(std::fread(buffer, 1, *size, stdin));
}

void WriteStandardOutput(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& streams = *static_cast<StandardStreams*>(parameter);
  if (*size != 0 && std::fwrite(buffer, 1, *size, stdout) != *size) streams.writeFailed = true;
  streams.written += *size;
}

// Output problems show up at the latest when the buffered rest is flushed.
int FinishOutput(const StandardStreams& streams, const char* command) {
  if (streams.writeFailed || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "qorpack %s: cannot write the output\n", command);
    return 1;
  }
  if (std::ferror(stdin)) {
    std::fprintf(stderr, "qorpack %s: cannot read the input\n", command);
    return 1;
  }
  return 0;
}

const char* ExplodeMessage(ExplodeResult result) {
  switch (result) {
    case kExplodeOk: return "ok";
    case kExplodeBadDictionary: return "unknown dictionary size";
    case kExplodeBadLiteralMode: return "unknown literal mode";
    case kExplodeInputTooShort: return "input of 4 bytes or fewer";
    case kExplodeInputEnded: return "input ended before the end code";
  }
  return "unknown result";
}

}  // namespace

int CommandImplode(int argc, char** argv) {
  std::uint32_t literalMode = kLiteralBinary;
  std::uint32_t dictionary = 4096;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ascii") == 0) {
      literalMode = kLiteralAscii;
    } else if (std::strcmp(argv[i], "--dict") == 0 && i + 1 < argc) {
      const std::string size = argv[++i];
      if (size != "1024" && size != "2048" && size != "4096") {
        std::fprintf(stderr, "qorpack implode: dictionary size must be 1024, 2048 or 4096\n");
        return 2;
      }
      dictionary = static_cast<std::uint32_t>(std::stoul(size));
    } else {
      std::fprintf(stderr, "usage: qorpack implode [--ascii] [--dict 1024|2048|4096] <input >output\n");
      return 2;
    }
  }
  auto state = std::make_unique<ImplodeState>();
  StandardStreams streams;
  ImplodeStream(ReadStandardInput, WriteStandardOutput, state.get(), &streams, literalMode, dictionary);
  // The stream of an empty input is too short for the decoder, which refuses streams of 4 bytes or
  // fewer; one zero byte behind it decodes to the empty output, as the builder stores such a file.
  if (streams.written < 5) {
    std::uint8_t zero = 0;
    std::uint32_t one = 1;
    WriteStandardOutput(&zero, &one, &streams);
  }
  return FinishOutput(streams, "implode");
}

int CommandExplode(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: qorpack explode <input >output\n");
    return 2;
  }
  auto state = std::make_unique<ExplodeState>();
  StandardStreams streams;
  const ExplodeResult result = ExplodeStream(ReadStandardInput, WriteStandardOutput, state.get(), &streams);
  const int status = FinishOutput(streams, "explode");
  if (result != kExplodeOk) {
    std::fprintf(stderr, "qorpack explode: %s (result %u)\n", ExplodeMessage(result), static_cast<unsigned>(result));
    return 1;
  }
  return status;
}
