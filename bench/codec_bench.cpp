// Throughput of ImplodeBuffer and ExplodeBuffer against two deflate libraries, zlib (compress2 at
// level 6, uncompress) and libdeflate (raw deflate at level 6), on the same data, each file
// compressed on its own as the package builder does. MB/s are of uncompressed data.
//
// Two classes of data, measured apart:
// - "pe+text", the headline: 20 MB of Windows i386 DLLs (what packages mostly carry) and text, the
//   corpus the codec's speed goals were set on. The goal ratios are printed for this class.
// - "random": 3 MB of incompressible bytes, as extra information. Deflate stores such data in raw
//   blocks and so copies it at memory speed, while implode still codes every byte as a 9-bit
//   literal; the class shows that cost on its own instead of folding it into the headline.
// After the runs the ratios to both libraries are printed per class.
//
// This machine's speed drifts by tens of percent within a minute (it is shared), so the coders are
// not timed one after the other: every benchmark runs in 7 repetitions of at least half a second,
// the repetitions of all benchmarks in a random order interleaved with each other, and the ratios
// are taken between medians. Drift within half a second still moves those ratios by several
// percent from run to run, so the two goal ratios are also measured paired: the codec and
// libdeflate take turns on every megabyte of the corpus, and the median ratio over whole rounds is
// printed with the goal.
//
// Last, single large streams (24 MB each of i386 DLLs, of x86-64 shared libraries and of text, each
// coded whole as one payload file would be) are measured paired, a stream per turn.
//
// Every class and stream is checked to decode to its input, and a digest of its implode output is
// printed: a change that only speeds the encoder up must leave the digests as they were.
// `--benchmark_filter=^$` skips the unpaired benchmarks and runs only the paired goal ratios.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/corpus_files.h"
#include "codec/explode.h"
#include "codec/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One class of data with its streams from all three coders.
struct Corpus {
  std::vector<Bytes> files;
  std::vector<Bytes> imploded;
  std::vector<Bytes> deflated;
  std::vector<Bytes> rawDeflated;  // libdeflate's level 6, no zlib wrapper
  std::size_t totalBytes = 0;
};

struct Corpora {
  Corpus peText;
  Corpus random;
  std::size_t dllBytes = 0, textBytes = 0;
};

using corpus::Collect;
using corpus::IsDll;
using corpus::IsText;
using corpus::ReadWhole;

// libdeflate's compressor and decompressor are made once and reused, as that library is meant to
// be used; the codec's wrappers set up their state on every call.
struct LibdeflateCompressor {
  libdeflate_compressor* handle = libdeflate_alloc_compressor(6);
  ~LibdeflateCompressor() { libdeflate_free_compressor(handle); }
};
struct LibdeflateDecompressor {
  libdeflate_decompressor* handle = libdeflate_alloc_decompressor();
  ~LibdeflateDecompressor() { libdeflate_free_decompressor(handle); }
};

Bytes LibdeflateCompress(const Bytes& file) {
  static const LibdeflateCompressor compressor;
  Bytes output(libdeflate_deflate_compress_bound(compressor.handle, file.size()));
  output.resize(libdeflate_deflate_compress(compressor.handle, file.data(), file.size(), output.data(), output.size()));
  return output;
}

// Compresses every file of the class with all three coders once, for the decoders to read.
void Prepare(Corpus& c) {
  for (const Bytes& file : c.files) {
    c.totalBytes += file.size();
    Bytes imploded(4 + (9 * file.size() + 7) / 8);
    const std::int32_t size = ImplodeBuffer(imploded.data(), static_cast<std::uint32_t>(imploded.size()), file.data(),
                                            static_cast<std::uint32_t>(file.size()));
    imploded.resize(static_cast<std::size_t>(size));
    c.imploded.push_back(std::move(imploded));
    uLongf deflatedSize = compressBound(static_cast<uLong>(file.size()));
    Bytes deflated(deflatedSize);
    compress2(deflated.data(), &deflatedSize, file.data(), static_cast<uLong>(file.size()), 6);
    deflated.resize(deflatedSize);
    c.deflated.push_back(std::move(deflated));
    c.rawDeflated.push_back(LibdeflateCompress(file));
  }
}

const Corpora& TheCorpora() {
  static const Corpora corpora = [] {
    Corpora c;
    c.dllBytes = Collect("/usr/lib/i386-linux-gnu/wine/i386-windows", IsDll, 15u << 20, [&](Bytes b) { c.peText.files.push_back(std::move(b)); });
    c.textBytes = Collect("/usr/share/doc", IsText, 5u << 20, [&](Bytes b) { c.peText.files.push_back(std::move(b)); });
    // Incompressible bytes, in installer-sized pieces.
    std::mt19937 random(1);
    for (int piece = 0; piece < 3; ++piece) {
      Bytes bytes(1u << 20);
      for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
      c.random.files.push_back(std::move(bytes));
    }
    Prepare(c.peText);
    Prepare(c.random);
    return c;
  }();
  return corpora;
}

// FNV-1a over the streams, in order: a digest of the encoder's output to compare between builds,
// since a faster encoder must write the same bytes.
std::uint64_t Digest(const std::vector<Bytes>& streams) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const Bytes& stream : streams) {
    for (const std::uint8_t byte : stream) hash = (hash ^ byte) * 1099511628211ull;
  }
  return hash;
}

// Whether every stream of the class decodes to its file.
bool RoundTrips(const Corpus& corpus) {
  Bytes output;
  for (std::size_t i = 0; i < corpus.files.size(); ++i) {
    output.resize(corpus.files[i].size() + 64);
    const std::int32_t size = ExplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()), corpus.imploded[i].data(),
                                            static_cast<std::uint32_t>(corpus.imploded[i].size()));
    if (size != static_cast<std::int32_t>(corpus.files[i].size()) ||
        !std::equal(corpus.files[i].begin(), corpus.files[i].end(), output.begin())) {
      return false;
    }
  }
  return true;
}

std::size_t Sum(const std::vector<Bytes>& pieces) {
  std::size_t total = 0;
  for (const Bytes& piece : pieces) total += piece.size();
  return total;
}

void Implode(benchmark::State& state, const Corpus& corpus) {
  Bytes output(4 + (9 * (4u << 20) + 7) / 8);
  for (auto _ : state) {
    for (const Bytes& file : corpus.files) {
      benchmark::DoNotOptimize(ImplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()), file.data(),
                                             static_cast<std::uint32_t>(file.size())));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void Deflate6(benchmark::State& state, const Corpus& corpus) {
  Bytes output(compressBound(4u << 20));
  for (auto _ : state) {
    for (const Bytes& file : corpus.files) {
      uLongf size = static_cast<uLongf>(output.size());
      benchmark::DoNotOptimize(compress2(output.data(), &size, file.data(), static_cast<uLong>(file.size()), 6));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void Libdeflate6(benchmark::State& state, const Corpus& corpus) {
  const LibdeflateCompressor compressor;
  Bytes output(libdeflate_deflate_compress_bound(compressor.handle, 4u << 20));
  for (auto _ : state) {
    for (const Bytes& file : corpus.files) {
      benchmark::DoNotOptimize(
          libdeflate_deflate_compress(compressor.handle, file.data(), file.size(), output.data(), output.size()));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void Explode(benchmark::State& state, const Corpus& corpus) {
  Bytes output(4u << 20);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      const std::int32_t size = ExplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()),
                                              corpus.imploded[i].data(), static_cast<std::uint32_t>(corpus.imploded[i].size()));
      if (size != static_cast<std::int32_t>(corpus.files[i].size())) state.SkipWithError("explode failed");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void Inflate(benchmark::State& state, const Corpus& corpus) {
  Bytes output(4u << 20);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      uLongf size = static_cast<uLongf>(output.size());
      if (uncompress(output.data(), &size, corpus.deflated[i].data(), static_cast<uLong>(corpus.deflated[i].size())) != Z_OK ||
          size != corpus.files[i].size()) {
        state.SkipWithError("inflate failed");
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void LibdeflateDecompress(benchmark::State& state, const Corpus& corpus) {
  const LibdeflateDecompressor decompressor;
  Bytes output(4u << 20);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      std::size_t size = 0;
      if (libdeflate_deflate_decompress(decompressor.handle, corpus.rawDeflated[i].data(), corpus.rawDeflated[i].size(),
                                        output.data(), output.size(), &size) != LIBDEFLATE_SUCCESS ||
          size != corpus.files[i].size()) {
        state.SkipWithError("libdeflate decompression failed");
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

// Times `ours(i)` and `theirs(i)` on every file i of the corpus, taking turns on runs of files of
// about a megabyte: the two time the same run back to back, the one that goes first alternating
// from run to run and from round to round, so that a change of the machine's speed falls on both
// alike. (Turns file by file would let the one coder's tables be pushed out of the caches by the
// other's before every small file, which a coder running on its own does not suffer.) Returns the
// median over `rounds` rounds of the time theirs took divided by the time ours took: above 1, ours
// is faster.
template <typename Ours, typename Theirs>
double PairedRatio(const Corpus& corpus, int rounds, Ours ours, Theirs theirs) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::size_t> runStarts;
  std::size_t inRun = 0;
  for (std::size_t i = 0; i < corpus.files.size(); ++i) {
    if (inRun == 0) runStarts.push_back(i);
    inRun += corpus.files[i].size();
    if (inRun >= (1u << 20)) inRun = 0;
  }
  runStarts.push_back(corpus.files.size());
  std::vector<double> ratios;
  for (int round = 0; round < rounds; ++round) {
    Clock::duration oursTime{}, theirsTime{};
    for (std::size_t run = 0; run + 1 < runStarts.size(); ++run) {
      for (std::size_t turn = 0; turn < 2; ++turn) {
        const bool oursNow = (run + static_cast<std::size_t>(round) + turn) % 2 == 0;
        const Clock::time_point start = Clock::now();
        for (std::size_t i = runStarts[run]; i < runStarts[run + 1]; ++i) {
          if (oursNow) {
            ours(i);
          } else {
            theirs(i);
          }
        }
        (oursNow ? oursTime : theirsTime) += Clock::now() - start;
      }
    }
    ratios.push_back(std::chrono::duration<double>(theirsTime).count() / std::chrono::duration<double>(oursTime).count());
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

// Keeps every benchmark's median throughput by name so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const auto counter = run.counters.find("bytes_per_second");
      if (counter != run.counters.end()) rates[run.run_name.function_name] = counter->second.value;
    }
  }
  std::map<std::string, double> rates;
};

double Percent(const std::vector<Bytes>& streams, const Corpus& corpus) {
  return 100.0 * static_cast<double>(Sum(streams)) / static_cast<double>(corpus.totalBytes);
}

// The goal ratios on the headline class, measured paired (see PairedRatio).
void PrintPairedGoals(const Corpus& corpus) {
  const LibdeflateCompressor compressor;
  const LibdeflateDecompressor decompressor;
  Bytes output(std::max<std::size_t>(4 + (9 * (4u << 20) + 7) / 8,
                                     libdeflate_deflate_compress_bound(compressor.handle, 4u << 20)));
  const auto capacity = static_cast<std::uint32_t>(output.size());
  const double implode = PairedRatio(
      corpus, 7,
      [&](std::size_t i) {
        const Bytes& file = corpus.files[i];
        benchmark::DoNotOptimize(ImplodeBuffer(output.data(), capacity, file.data(), static_cast<std::uint32_t>(file.size())));
      },
      [&](std::size_t i) {
        const Bytes& file = corpus.files[i];
        benchmark::DoNotOptimize(
            libdeflate_deflate_compress(compressor.handle, file.data(), file.size(), output.data(), output.size()));
      });
  const double explode = PairedRatio(
      corpus, 41,
      [&](std::size_t i) {
        const Bytes& stream = corpus.imploded[i];
        benchmark::DoNotOptimize(ExplodeBuffer(output.data(), capacity, stream.data(), static_cast<std::uint32_t>(stream.size())));
      },
      [&](std::size_t i) {
        const Bytes& stream = corpus.rawDeflated[i];
        std::size_t size = 0;
        benchmark::DoNotOptimize(libdeflate_deflate_decompress(decompressor.handle, stream.data(), stream.size(),
                                                               output.data(), output.size(), &size));
      });
  std::printf("pe+text goals, paired a megabyte at a time (median of 7 and 41 rounds):\n");
  std::printf("implode / libdeflate6:           %5.2fx (goal >= 1.0x)\n", implode);
  std::printf("explode / libdeflate-decompress: %5.2fx (goal >= 1.5x)\n", explode);
}

// One large stream of a kind: the files under `root` that `accept` takes, in path order, joined
// until `size` bytes.
Bytes LargeStream(const std::filesystem::path& root, bool (*accept)(const std::filesystem::path&), std::size_t size) {
  Bytes bytes;
  corpus::AppendFiles(root, accept, size, bytes);
  return bytes;
}

// Implode and explode against libdeflate on single large streams of three kinds, one whole stream
// per turn, the one that goes first alternating; the median over the rounds of libdeflate's time
// over ours (above 1, ours is faster).
void PrintLargeStreams() {
  const std::pair<const char*, Bytes> streams[] = {
      {"i386 DLLs", LargeStream("/usr/lib/i386-linux-gnu/wine/i386-windows",
                                [](const std::filesystem::path& p) { return p.extension() == ".dll"; }, 24u << 20)},
      {"x86-64 shared libraries",
       LargeStream("/usr/lib/x86_64-linux-gnu",
                   [](const std::filesystem::path& p) { return p.string().find(".so") != std::string::npos; }, 24u << 20)},
      {"text", LargeStream("/usr/include", [](const std::filesystem::path& p) { return p.extension() == ".h"; }, 24u << 20)}};
  const LibdeflateCompressor compressor;
  const LibdeflateDecompressor decompressor;
  std::printf("large single streams, paired a stream at a time (median of 7 rounds):\n");
  for (const auto& [name, input] : streams) {
    if (input.empty()) continue;
    Bytes imploded(4 + (9 * input.size() + 7) / 8), output(input.size() + 64);
    Bytes deflated(libdeflate_deflate_compress_bound(compressor.handle, input.size()));
    const auto capacity = static_cast<std::uint32_t>(imploded.size());
    std::int32_t implodedSize = 0;
    std::size_t deflatedSize = 0;
    Corpus one;
    one.files.push_back(input);
    const double implode = PairedRatio(
        one, 7,
        [&](std::size_t) {
          implodedSize = ImplodeBuffer(imploded.data(), capacity, input.data(), static_cast<std::uint32_t>(input.size()));
        },
        [&](std::size_t) {
          deflatedSize =
              libdeflate_deflate_compress(compressor.handle, input.data(), input.size(), deflated.data(), deflated.size());
        });
    const double explode = PairedRatio(
        one, 7,
        [&](std::size_t) {
          benchmark::DoNotOptimize(ExplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()), imploded.data(),
                                                 static_cast<std::uint32_t>(implodedSize)));
        },
        [&](std::size_t) {
          std::size_t size = 0;
          benchmark::DoNotOptimize(libdeflate_deflate_decompress(decompressor.handle, deflated.data(), deflatedSize,
                                                                 output.data(), output.size(), &size));
        });
    one.imploded.emplace_back(imploded.begin(), imploded.begin() + implodedSize);
    std::printf("%-24s %5.1f MB: implode / libdeflate6 %5.2fx (goal >= 1.0x), explode / libdeflate %5.2fx; "
                "sizes %.1f%% and %.1f%%; stream digest %016llx, %s\n",
                name, static_cast<double>(input.size()) / 1e6, implode, explode,
                100.0 * implodedSize / static_cast<double>(input.size()),
                100.0 * static_cast<double>(deflatedSize) / static_cast<double>(input.size()),
                static_cast<unsigned long long>(Digest(one.imploded)), RoundTrips(one) ? "decodes to its input" : "DECODES WRONG");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Interleaved repetitions unless the command line says otherwise (its flags come later and win).
  std::vector<char*> arguments(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  arguments.insert(arguments.begin() + 1, interleave);
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  const Corpora& corpora = TheCorpora();
  const std::pair<const char*, const Corpus*> classes[] = {{"pe+text", &corpora.peText}, {"random", &corpora.random}};
  std::printf("pe+text (headline): %.1f MB in %zu files (%.1f MB DLLs, %.1f MB text)\n",
              static_cast<double>(corpora.peText.totalBytes) / 1e6, corpora.peText.files.size(),
              static_cast<double>(corpora.dllBytes) / 1e6, static_cast<double>(corpora.textBytes) / 1e6);
  std::printf("random (extra information, not in the headline): %.1f MB in %zu files\n",
              static_cast<double>(corpora.random.totalBytes) / 1e6, corpora.random.files.size());
  for (const auto& [name, corpus] : classes) {
    std::printf("%s compressed size: implode %.1f%%, zlib deflate-6 %.1f%%, libdeflate-6 %.1f%%\n", name,
                Percent(corpus->imploded, *corpus), Percent(corpus->deflated, *corpus), Percent(corpus->rawDeflated, *corpus));
    std::printf("%s implode streams: digest %016llx, %s\n", name, static_cast<unsigned long long>(Digest(corpus->imploded)),
                RoundTrips(*corpus) ? "each decodes to its file" : "SOME DECODE WRONG");
  }
  using Function = void (*)(benchmark::State&, const Corpus&);
  const std::pair<const char*, Function> functions[] = {
      {"implode", Implode},  {"zlib-deflate6", Deflate6}, {"libdeflate6", Libdeflate6},
      {"explode", Explode},  {"zlib-inflate", Inflate},   {"libdeflate-decompress", LibdeflateDecompress}};
  for (const auto& [className, corpus] : classes) {
    for (const auto& [functionName, function] : functions) {
      benchmark::RegisterBenchmark((std::string(functionName) + "/" + className).c_str(),
                                   [function = function, corpus = corpus](benchmark::State& state) { function(state, *corpus); })
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.5)
          ->Repetitions(7)
          ->ReportAggregatesOnly(true);
    }
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& rates = reporter.rates;
  auto ratio = [&](const std::string& ours, const std::string& theirs) {
    if (rates.count(ours) != 0 && rates.count(theirs) != 0 && rates[theirs] > 0) {
      std::printf("%-14s / %-29s %5.2fx (%7.1f vs %7.1f MB/s)\n", ours.c_str(), (theirs + ":").c_str(),
                  rates[ours] / rates[theirs], rates[ours] / 1e6, rates[theirs] / 1e6);
    }
  };
  for (const auto& [className, corpus] : classes) {
    const std::string suffix = std::string("/") + className;
    const bool headline = corpus == &corpora.peText;
    std::printf("%s\n", headline ? "pe+text, the headline (its goal ratios, measured paired, follow at the end):"
                                 : "random, extra information (deflate stores it; no goal):");
    ratio("implode" + suffix, "libdeflate6" + suffix);
    ratio("explode" + suffix, "libdeflate-decompress" + suffix);
    ratio("implode" + suffix, "zlib-deflate6" + suffix);
    ratio("explode" + suffix, "zlib-inflate" + suffix);
  }
  PrintPairedGoals(corpora.peText);
  PrintLargeStreams();
  benchmark::Shutdown();
  return 0;
}
