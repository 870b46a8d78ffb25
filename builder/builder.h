// The /m role: builds a package from a packing list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/package_writer.h"

// What a finished build wrote, for qorpack's summary of it.
struct BuiltPiece {
  std::string name;      // the setup script's name, or the entry's name (script text)
  std::string source;    // the path the list gives for it (platform text); the list's own for the script
  std::uint32_t packed;  // bytes of its compressed stream, as a package reader counts them
  std::uint64_t size;    // bytes of the source that were packed
  std::uint64_t time;    // the stored time (Windows file time), SOURCE_DATE_EPOCH applied
};
struct BuildReport {
  std::string output;              // the package's path (platform text)
  std::uint32_t size = 0;          // its bytes
  std::vector<BuiltPiece> pieces;  // the setup script, then each payload file, in package order
  std::vector<std::string> warnings;  // the build log's lines (a good build logs only warnings), no CR LF
};

// Builds the package that the packing list named in `argumentText` (for example "/m .\list.ini")
// describes and returns 0; a failed build returns -1 with the reason as the last line of the build
// log "logfile.txt" in the current directory. Nothing is ever shown.
std::int32_t PackageBuilder(const char* argumentText);

// What the native tool and the tests add to a build; the defaults give PackageBuilder's build.
struct BuildOptions {
  // Called with every build-log line as written.
  void (*echo)(void* context, const char* line) = nullptr;
  // Called as each source is read: its source path, bytes read so far, its size (0: unknown).
  void (*progress)(void* context, const char* name, std::uint64_t done, std::uint64_t size) = nullptr;
  void* context = nullptr;
  // Threads that compress segments ahead of the writer; 0 for one per core. The package is the
  // same bytes whatever the number.
  unsigned jobs = 0;
  // Overrides of the packing list's paths (platform text; null: the list's own): the stub instead of
  // [In] QorFileName, and the package's path instead of the stamped [Out] OutputName, which the list
  // must still hold for the installer. The stored list keeps its values as they are.
  const char* stubPath = nullptr;
  const char* outputPath = nullptr;
  // A source that is missing fails the build with its name (code 4) instead of being pruned with a
  // warning: the packing list is then never rewritten.
  bool strict = false;
  // Filled when the build succeeds; may be null.
  BuildReport* report = nullptr;
  // The largest package to write; tests set a small one in place of the 2 GiB limit.
  std::uint32_t packageLimit = kMaxPackageSize;
  // The bytes no compressed segment may hold; null means SegmentMarker. Tests pass a probe that
  // ordinary streams do hold, to reach the recompression paths.
  const std::uint8_t* segmentProbe = nullptr;
  std::uint32_t segmentProbeSize = 0;
};

// PackageBuilder with options.
std::int32_t BuildPackage(const char* argumentText, const BuildOptions& options);
