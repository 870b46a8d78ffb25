// Throughput of ImplodeBuffer and ExplodeBuffer against two deflate libraries, zlib (compress2 at
// level 6, uncompress) and libdeflate (raw deflate at level 6), on the same data: Windows i386 DLLs
// (what packages mostly carry), text, and incompressible bytes, about 20 MB, each file compressed on
// its own as the package builder does. MB/s are of uncompressed data. After the runs the ratios to
// both libraries are printed.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/explode.h"
#include "codec/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Corpus {
  std::vector<Bytes> files;
  std::vector<Bytes> imploded;
  std::vector<Bytes> deflated;
  std::vector<Bytes> rawDeflated;  // libdeflate's level 6, no zlib wrapper
  std::size_t totalBytes = 0;
  std::size_t dllBytes = 0, textBytes = 0, randomBytes = 0;
};

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Regular files under `root` whose names pass `accept`, in path order, until `budget` bytes.
std::size_t Collect(const std::filesystem::path& root, bool (*accept)(const std::filesystem::path&, const Bytes&),
                    std::size_t budget, std::vector<Bytes>& files) {
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return 0;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error)) paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  std::size_t total = 0;
  for (const auto& path : paths) {
    if (total >= budget) break;
    Bytes bytes = ReadFile(path);
    if (bytes.empty() || bytes.size() > (4u << 20) || !accept(path, bytes)) continue;
    total += bytes.size();
    files.push_back(std::move(bytes));
  }
  return total;
}

bool IsDll(const std::filesystem::path& path, const Bytes& bytes) {
  return path.extension() == ".dll" && bytes.size() > 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

bool IsText(const std::filesystem::path& path, const Bytes& bytes) {
  if (path.extension() == ".gz" || path.extension() == ".bz2" || path.extension() == ".xz") return false;
  return std::none_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 4096)),
                      [](std::uint8_t byte) { return byte == 0; });
}

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

const Corpus& TheCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    c.dllBytes = Collect("/usr/lib/i386-linux-gnu/wine/i386-windows", IsDll, 12u << 20, c.files);
    c.textBytes = Collect("/usr/share/doc", IsText, 5u << 20, c.files);
    // Incompressible bytes, in installer-sized pieces.
    std::mt19937 random(1);
    for (int piece = 0; piece < 3; ++piece) {
      Bytes bytes(1u << 20);
      for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
      c.randomBytes += bytes.size();
      c.files.push_back(std::move(bytes));
    }
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
    return c;
  }();
  return corpus;
}

std::size_t Sum(const std::vector<Bytes>& pieces) {
  std::size_t total = 0;
  for (const Bytes& piece : pieces) total += piece.size();
  return total;
}

void BM_ImplodeBuffer(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  Bytes output(4 + (9 * (4u << 20) + 7) / 8);
  for (auto _ : state) {
    for (const Bytes& file : corpus.files) {
      benchmark::DoNotOptimize(ImplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()), file.data(),
                                             static_cast<std::uint32_t>(file.size())));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void BM_Deflate6(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  Bytes output(compressBound(4u << 20));
  for (auto _ : state) {
    for (const Bytes& file : corpus.files) {
      uLongf size = static_cast<uLongf>(output.size());
      benchmark::DoNotOptimize(compress2(output.data(), &size, file.data(), static_cast<uLong>(file.size()), 6));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.totalBytes));
}

void BM_Libdeflate6(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
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

void BM_ExplodeBuffer(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
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

void BM_Inflate(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
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

void BM_LibdeflateDecompress(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
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

BENCHMARK(BM_ImplodeBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Deflate6)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libdeflate6)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExplodeBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Inflate)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibdeflateDecompress)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps every run's throughput so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto counter = run.counters.find("bytes_per_second");
      if (counter != run.counters.end()) rates[run.run_name.function_name] = counter->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Corpus& corpus = TheCorpus();
  std::printf("data: %.1f MB in %zu files (%.1f MB DLLs, %.1f MB text, %.1f MB incompressible)\n",
              static_cast<double>(corpus.totalBytes) / 1e6, corpus.files.size(), static_cast<double>(corpus.dllBytes) / 1e6,
              static_cast<double>(corpus.textBytes) / 1e6, static_cast<double>(corpus.randomBytes) / 1e6);
  std::printf("compressed size: implode %.1f%%, zlib deflate-6 %.1f%%, libdeflate-6 %.1f%%\n",
              100.0 * static_cast<double>(Sum(corpus.imploded)) / static_cast<double>(corpus.totalBytes),
              100.0 * static_cast<double>(Sum(corpus.deflated)) / static_cast<double>(corpus.totalBytes),
              100.0 * static_cast<double>(Sum(corpus.rawDeflated)) / static_cast<double>(corpus.totalBytes));
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& rates = reporter.rates;
  auto ratio = [&](const char* ours, const char* theirs, const char* goal) {
    if (rates.count(ours) != 0 && rates.count(theirs) != 0 && rates[theirs] > 0) {
      std::printf("%s / %s: %.2fx (%.1f vs %.1f MB/s%s%s)\n", ours, theirs, rates[ours] / rates[theirs],
                  rates[ours] / 1e6, rates[theirs] / 1e6, goal != nullptr ? "; goal " : "", goal != nullptr ? goal : "");
    }
  };
  ratio("BM_ImplodeBuffer", "BM_Libdeflate6", ">= 1.0x");
  ratio("BM_ExplodeBuffer", "BM_LibdeflateDecompress", ">= 1.5x");
  ratio("BM_ImplodeBuffer", "BM_Deflate6", nullptr);
  ratio("BM_ExplodeBuffer", "BM_Inflate", nullptr);
  benchmark::Shutdown();
  return 0;
}
