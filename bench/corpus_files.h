// The benchmarks' headline corpus, as codec_bench and explode_serve both take it: files gathered
// from a folder in path order until a budget, and the two tests that pick Windows DLLs and text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace corpus {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The regular files under `root` (links left out) whose paths pass `accept`, in path order; none
// when the folder is missing.
template <typename Accept>
std::vector<std::filesystem::path> SortedFiles(const std::filesystem::path& root, Accept accept) {
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return paths;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error) && accept(it->path())) paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Appends the files under `root` whose paths pass `accept`, in path order, to `out`, until `budget`
// bytes were added (the last file cut there): one large stream of a kind.
inline void AppendFiles(const std::filesystem::path& root, bool (*accept)(const std::filesystem::path&),
                        std::size_t budget, Bytes& out) {
  const std::size_t end = out.size() + budget;
  for (const auto& path : SortedFiles(root, accept)) {
    if (out.size() >= end) break;
    const Bytes file = ReadWhole(path);
    out.insert(out.end(), file.begin(), file.end());
  }
  out.resize(std::min(out.size(), end));
}

// Calls `take` with every regular file under `root` (links left out) of 1 byte to 4 MiB that passes
// `accept`, in path order, until `budget` bytes were taken; returns the bytes taken. A missing
// folder gives nothing.
template <typename Take>
std::size_t Collect(const std::filesystem::path& root, bool (*accept)(const std::filesystem::path&, const Bytes&),
                    std::size_t budget, Take take) {
  std::size_t total = 0;
  for (const auto& path : SortedFiles(root, [](const std::filesystem::path&) { return true; })) {
    if (total >= budget) break;
    Bytes bytes = ReadWhole(path);
    if (bytes.empty() || bytes.size() > (4u << 20) || !accept(path, bytes)) continue;
    total += bytes.size();
    take(std::move(bytes));
  }
  return total;
}

inline bool IsDll(const std::filesystem::path& path, const Bytes& bytes) {
  return path.extension() == ".dll" && bytes.size() > 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

// Text: no compressed documentation, and no zero byte in the first 4 KB.
inline bool IsText(const std::filesystem::path& path, const Bytes& bytes) {
  if (path.extension() == ".gz" || path.extension() == ".bz2" || path.extension() == ".xz") return false;
  return std::none_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 4096)),
                      [](std::uint8_t byte) { return byte == 0; });
}

}  // namespace corpus
