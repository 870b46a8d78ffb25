// The decoder's side of the 32-bit-against-native benchmark (explode_wine_bench.py): one program,
// built natively and for Windows, that decodes parts of a corpus when the driver asks and tells how
// long each took, so that the driver can make the two builds take turns on the same streams.
//
//   explode_serve corpus FILE   collects the headline corpus (Wine's i386 DLLs and the system's
//                               text, as codec_bench takes them) and random bytes, implodes every
//                               file and writes FILE
//   explode_serve serve FILE    reads FILE, decodes every stream once and compares it with its
//                               file, prints "run KIND BYTES" per run and "ready", then answers
//                               each "buffer K" or "stream K" line with the nanoseconds that
//                               decoding run K took (ExplodeBuffer, or ExplodeStream reading 2048
//                               bytes and writing 4096-byte chunks as the installer does), until
//                               its input ends
//
// A corpus file: "QXC1", the file count (4 bytes), then per file its kind (1 byte: 0 DLL, 1 text,
// 2 random), its length and its stream's length (4 bytes each), the file and the stream. Numbers
// are little-endian. A run is a series of files of one kind of about a megabyte, the unit the two
// builds take turns on (see PairedRatio in codec_bench.cpp for why not file by file).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/corpus_files.h"
#include "codec/explode.h"
#include "codec/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
  std::uint8_t kind;
  Bytes file;
  Bytes stream;
};

const char* const kKindNames[] = {"dll", "text", "random"};

using corpus::IsDll;
using corpus::IsText;
using corpus::ReadWhole;

// Adds the files of `root` that pass `accept` as entries of `kind`, by the headline corpus's rules.
void Collect(const std::filesystem::path& root, bool (*accept)(const std::filesystem::path&, const Bytes&),
             std::size_t budget, std::uint8_t kind, std::vector<Entry>& entries) {
  corpus::Collect(root, accept, budget, [&](Bytes bytes) { entries.push_back({kind, std::move(bytes), {}}); });
}

void PutWord(std::ofstream& out, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  out.write(reinterpret_cast<const char*>(bytes), 4);
}

int WriteCorpus(const char* path) {
  std::vector<Entry> entries;
  Collect("/usr/lib/i386-linux-gnu/wine/i386-windows", IsDll, 15u << 20, 0, entries);
  Collect("/usr/share/doc", IsText, 5u << 20, 1, entries);
  std::mt19937 random(1);
  for (int piece = 0; piece < 3; ++piece) {
    Bytes bytes(1u << 20);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    entries.push_back({2, std::move(bytes), {}});
  }
  if (entries.size() < 10) {
    std::fprintf(stderr, "explode_serve: the corpus folders are missing (wine32's DLLs, /usr/share/doc)\n");
    return 1;
  }
  std::ofstream out(path, std::ios::binary);
  out.write("QXC1", 4);
  PutWord(out, static_cast<std::uint32_t>(entries.size()));
  for (Entry& entry : entries) {
    entry.stream.resize(4 + (9 * entry.file.size() + 7) / 8);
    const std::int32_t size = ImplodeBuffer(entry.stream.data(), static_cast<std::uint32_t>(entry.stream.size()),
                                            entry.file.data(), static_cast<std::uint32_t>(entry.file.size()));
    if (size < 0) {
      std::fprintf(stderr, "explode_serve: a corpus file does not implode\n");
      return 1;
    }
    entry.stream.resize(static_cast<std::size_t>(size));
    out.put(static_cast<char>(entry.kind));
    PutWord(out, static_cast<std::uint32_t>(entry.file.size()));
    PutWord(out, static_cast<std::uint32_t>(entry.stream.size()));
    out.write(reinterpret_cast<const char*>(entry.file.data()), static_cast<std::streamsize>(entry.file.size()));
    out.write(reinterpret_cast<const char*>(entry.stream.data()), static_cast<std::streamsize>(entry.stream.size()));
  }
  return out.good() ? 0 : 1;
}

// Reads a corpus file; false when it is missing, cut short or of another layout.
bool ReadCorpus(const char* path, std::vector<Entry>& entries) {
  const Bytes all = ReadWhole(path);
  std::size_t at = 0;
  auto word = [&](std::uint32_t& value) {
    if (all.size() - at < 4) return false;
    value = all[at] | (std::uint32_t{all[at + 1]} << 8) | (std::uint32_t{all[at + 2]} << 16) |
            (std::uint32_t{all[at + 3]} << 24);
    at += 4;
    return true;
  };
  auto bytes = [&](std::uint32_t size, Bytes& out) {
    if (all.size() - at < size) return false;
    out.assign(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
    return true;
  };
  std::uint32_t count = 0;
  if (all.size() < 8 || std::memcmp(all.data(), "QXC1", 4) != 0) return false;
  at = 4;
  if (!word(count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    Entry entry;
    std::uint32_t fileSize = 0, streamSize = 0;
    if (at >= all.size()) return false;
    entry.kind = all[at++];
    if (entry.kind > 2 || !word(fileSize) || !word(streamSize) || !bytes(fileSize, entry.file) ||
        !bytes(streamSize, entry.stream)) {
      return false;
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

// The installer's way of decoding: the stream comes in reads of up to 2048 bytes, the output goes
// out in 4096-byte chunks, here copied into one buffer.
struct StreamTransfer {
  const std::uint8_t* source;
  std::uint32_t remaining;
  std::uint8_t* destination;
  std::uint32_t written;
};

std::uint32_t ReadStream(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<StreamTransfer*>(parameter);
  const std::uint32_t n = std::min(*size, transfer.remaining);
  std::memcpy(buffer, transfer.source, n);
  transfer.source += n;
  transfer.remaining -= n;
  return n;
}

void WriteStream(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<StreamTransfer*>(parameter);
  std::memcpy(transfer.destination + transfer.written, buffer, *size);
  transfer.written += *size;
}

// Decodes entry `entry` into `output` (4 MiB) and returns the decoded length, or -1.
std::int64_t DecodeBuffer(const Entry& entry, Bytes& output) {
  return ExplodeBuffer(output.data(), static_cast<std::uint32_t>(output.size()), entry.stream.data(),
                       static_cast<std::uint32_t>(entry.stream.size()));
}

std::int64_t DecodeStream(const Entry& entry, Bytes& output, ExplodeState& state) {
  std::memset(state.window, 0, kExplodeHistory);
  StreamTransfer transfer{entry.stream.data(), static_cast<std::uint32_t>(entry.stream.size()), output.data(), 0};
  if (ExplodeStream(ReadStream, WriteStream, &state, &transfer) != kExplodeOk) return -1;
  return transfer.written;
}

int Serve(const char* path) {
  std::vector<Entry> entries;
  if (!ReadCorpus(path, entries)) {
    std::printf("error: cannot read the corpus %s\n", path);
    return 1;
  }
  // Room for the largest file, whose last window may reach past it.
  Bytes output((4u << 20) + kExplodeWindowSize + kExplodeCopySlack);
  std::unique_ptr<ExplodeState> state(new ExplodeState);
  for (const Entry& entry : entries) {
    for (int mode = 0; mode < 2; ++mode) {
      const std::int64_t size = mode == 0 ? DecodeBuffer(entry, output) : DecodeStream(entry, output, *state);
      if (size != static_cast<std::int64_t>(entry.file.size()) ||
          std::memcmp(output.data(), entry.file.data(), entry.file.size()) != 0) {
        std::printf("error: a stream does not decode to its file\n");
        return 1;
      }
    }
  }
  std::vector<std::size_t> runStarts;
  std::size_t inRun = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (inRun == 0 || entries[i].kind != entries[i - 1].kind) {
      runStarts.push_back(i);
      inRun = 0;
    }
    inRun += entries[i].file.size();
    if (inRun >= (1u << 20)) inRun = 0;
  }
  runStarts.push_back(entries.size());
  for (std::size_t run = 0; run + 1 < runStarts.size(); ++run) {
    std::size_t bytes = 0;
    for (std::size_t i = runStarts[run]; i < runStarts[run + 1]; ++i) bytes += entries[i].file.size();
    std::printf("run %s %zu\n", kKindNames[entries[runStarts[run]].kind], bytes);
  }
  std::printf("ready\n");
  std::fflush(stdout);

  std::string command;
  std::size_t run = 0;
  while (std::cin >> command >> run) {
    if (run + 1 >= runStarts.size() || (command != "buffer" && command != "stream")) break;
    const bool buffer = command == "buffer";
    std::int64_t failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = runStarts[run]; i < runStarts[run + 1]; ++i) {
      failed |= (buffer ? DecodeBuffer(entries[i], output) : DecodeStream(entries[i], output, *state)) < 0;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%lld\n", failed != 0 ? -1LL
                                      : static_cast<long long>(
                                            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "corpus") == 0) return WriteCorpus(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "serve") == 0) return Serve(argv[2]);
  std::fprintf(stderr, "usage: explode_serve corpus|serve FILE\n");
  return 2;
}
