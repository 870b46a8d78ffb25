// Where the silent install's time goes (install_wine_bench.sh runs it under Wine): the installer's
// steps on a package, one at a time, through the functions the installer calls, each timed alone.
//   install_stages PACKAGE [ROUNDS]
// - checksum pass: VerifyPackage, which reads the whole package once;
// - signature check, for a signed package: VerifyPackageAndSignatures, the checksum pass that also
//   computes every image digest the signatures name (the installer computes them on a thread of its
//   own beside the extraction: this is the processor time that thread takes, and a bit);
// - decoding: every piece decoded (and the package read) into nothing;
// - writing: every piece extracted into a fresh private folder, less the decoding;
// - comparison: the first payload file (the finishing program's place) decoded again and compared
//   with its file, as the installer does before it starts the program;
// - deleting: the extracted files and the folder.
// Each figure is the median over the rounds (5 by default), in wall time and in the thread's
// processor time, which other work on a busy machine does not stretch (under Wine it comes in
// steps of 10 ms).
#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "installer/segment.h"
#include "installer/signature_check.h"
#include "platform/platform.h"
#include "script/payload_list.h"

namespace {

#if defined(_WIN32)
double ThreadSeconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& time) {
    return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}
#else
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
#endif

// A point in wall time and in the thread's processor time.
struct Moment {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double processor = ThreadSeconds();
};

// Seconds since `start`: wall time and processor time.
struct Span {
  double wall = 0, processor = 0;
  Span operator-(const Span& other) const { return {wall - other.wall, processor - other.processor}; }
};

Span Since(const Moment& start) {
  const Moment now;
  return {std::chrono::duration<double>(now.wall - start.wall).count(), now.processor - start.processor};
}

bool Discard(void*, const std::uint8_t*, std::uint32_t) { return true; }

bool Keep(void* context, const std::uint8_t* data, std::uint32_t size) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), size);
  return true;
}

// The pieces the installer reads: the stub, the setup script and the files its list names (the
// package may hold padding after them).
std::uint32_t CountPieces(platform::File& package, std::uint32_t payloadEnd) {
  PackageFileReader reader(package, 0, payloadEnd);
  std::string script;
  std::uint64_t fileTime = 0;
  std::uint32_t result = 0;
  if (reader.reader().CopyStub(Discard, nullptr) != PackageFault::None ||
      reader.reader().DecodeSegment(Keep, &script, fileTime, result) != PackageFault::None) {
    return 0;
  }
  return 2 + static_cast<std::uint32_t>(ReadPayloadList(SetupScript(script)).size());
}

struct Stages {
  Span checksum, signatures, decoding, extracting, comparison, deleting;
};

int Fail(const char* what) {
  std::printf("install_stages: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: install_stages PACKAGE [ROUNDS]");
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::vector<Stages> results;
  for (int round = 0; round < rounds; ++round) {
    Stages stages;
    platform::File package;
    if (!platform::OpenFile(argv[1], platform::OpenMode::ReadShared, package)) return Fail("cannot open the package");
    PackageExtent extent;
    Moment start;
    if (VerifyPackage(package, extent)) return Fail("the package does not verify");
    stages.checksum = Since(start);
    if (extent.seal == PackageSeal::Signed) {
      std::vector<SignatureFacts> facts;
      start = Moment();
      if (VerifyPackageAndSignatures(package, extent, facts)) return Fail("the package's signatures do not verify");
      stages.signatures = Since(start);
    }
    const std::uint32_t payloadEnd = extent.packageEnd - kChecksumSize;
    const std::uint32_t pieces = CountPieces(package, payloadEnd);
    if (pieces < 3) return Fail("the package has no payload");

    // Decoding alone: the stub, the script and every payload piece into nothing.
    start = Moment();
    {
      PackageFileReader reader(package, 0, payloadEnd);
      if (reader.reader().CopyStub(Discard, nullptr) != PackageFault::None) return Fail("no stub");
      for (std::uint32_t piece = 1; piece < pieces; ++piece) {
        std::uint64_t fileTime = 0;
        std::uint32_t result = 0;
        if (reader.reader().DecodeSegment(Discard, nullptr, fileTime, result) != PackageFault::None) {
          return Fail("a piece does not decode");
        }
      }
    }
    stages.decoding = Since(start);

    // Extracting: the same into files of a private folder, as the installer writes them.
    char temp[platform::kPathCapacity];
    char folder[platform::kPathCapacity];
    if (!platform::TempDirectory(temp) || !platform::CreatePrivateDirectory(temp, folder)) {
      return Fail("cannot create a folder in the temporary folder");
    }
    std::vector<std::string> paths;
    std::vector<std::uint32_t> starts;
    start = Moment();
    {
      PackageFileReader reader(package, 0, payloadEnd);
      for (std::uint32_t piece = 0; piece < pieces; ++piece) {
        paths.push_back(std::string(folder) + "piece" + std::to_string(piece));
        starts.push_back(reader.reader().Position());
        platform::File output;
        if (!platform::CreateFileExact(paths.back().c_str(), true, output)) return Fail("cannot create a file");
        if (ExtractSegment(reader, output, piece == 0 ? kStubMode : kSegmentMode, paths.back())) {
          return Fail("a piece does not extract");
        }
      }
    }
    stages.extracting = Since(start) - stages.decoding;

    // The comparison of the first payload file (piece 2, after the stub and the script).
    start = Moment();
    {
      platform::File locked;
      if (!platform::OpenLockedForReading(paths[2].c_str(), locked)) return Fail("cannot lock the first payload file");
      PackageFileReader reader(package, starts[2], payloadEnd);
      if (!SegmentMatchesFile(reader, locked)) return Fail("the first payload file differs");
    }
    stages.comparison = Since(start);

    start = Moment();
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) platform::RemoveFile(path->c_str());
    platform::RemoveFolder(std::string(folder, std::strlen(folder) - 1).c_str());
    stages.deleting = Since(start);
    results.push_back(stages);
  }
  for (const char* what : {"wall", "processor"}) {
    const bool wall = what[0] == 'w';
    auto median = [&](Span Stages::*field) {
      std::vector<double> values;
      for (const Stages& stages : results) values.push_back(wall ? (stages.*field).wall : (stages.*field).processor);
      std::sort(values.begin(), values.end());
      return values[values.size() / 2];
    };
    const double checksum = median(&Stages::checksum), signatures = median(&Stages::signatures),
                 decoding = median(&Stages::decoding),
                 writing = median(&Stages::extracting), comparison = median(&Stages::comparison),
                 deleting = median(&Stages::deleting);
    std::printf("  %s time, median of %d rounds: checksum pass %.3f s, decoding %.3f s, writing %.3f s, program "
                "comparison %.3f s, deleting %.3f s; sum %.3f s\n",
                what, rounds, checksum, decoding, writing, comparison, deleting,
                checksum + decoding + writing + comparison + deleting);
    if (signatures > 0) std::printf("  %s time: the checksum pass with the signatures' digests %.3f s\n", what, signatures);
  }
  return 0;
}
