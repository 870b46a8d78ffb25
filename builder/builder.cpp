// PackageBuilder: the steps of a build, in the order the package is laid out. Each failure writes
// its reason to the build log and ends the process; a build that returns has written a complete,
// checksummed package.
#include "builder/builder.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/fatal.h"
#include "app/script.h"
#include "builder/build_log.h"
#include "builder/compress_segment.h"
#include "builder/packing_list.h"
#include "builder/version.h"
#include "package/checksum.h"
#include "package/layout.h"
#include "package/marker_scan.h"

namespace {

const char kWriteFailed[] = "Error writing to the output file.\r\n";
const char kPackageTooLarge[] =
    "The package would pass 2 GiB, the most a package can hold. Split the payload.\r\n";
const char kValueTooLong[] =
    "Value too long (259 characters at most) at %s. Check the packing list syntax.\r\n";
const char kMarkerEverywhere[] =
    "Error compressing %s: every compressed form of it holds the segment marker.\r\n";

// Everything a build step needs: the log, the packing list's path and the package being written.
struct Build {
  BuildLog log;
  char listPath[platform::kPathCapacity];
  platform::File output;
  PackageWriter writer;
  SegmentCheck check;
};

[[noreturn]] void Fail(Build& build, int code, const char* format, const char* argument = nullptr) {
  FailBuild(build.log, code, build.listPath, format, argument);
}

// Reads a value of the packing list with the default "@"; false when it is missing. A value too long
// to hold whole ends the build: a cut path would name another file.
bool ReadListValue(Build& build, const char* section, const char* key, ScriptText& value) {
  switch (ReadScriptValue(section, key, "@", value, build.listPath)) {
    case ScriptValue::Present: return true;
    case ScriptValue::Missing: return false;
    case ScriptValue::TooLong: break;
  }
  char where[64];
  std::snprintf(where, sizeof where, "%s/%s", section, key);
  Fail(build, kFatalScript, kValueTooLong, where);
}

void AppendOrFail(Build& build, const void* bytes, std::uint32_t size) {
  switch (Append(build.writer, bytes, size)) {
    case WriteResult::Ok: return;
    case WriteResult::Failed: Fail(build, kFatalFile, kWriteFailed);
    case WriteResult::TooLarge: Fail(build, kFatalFile, kPackageTooLarge);
  }
}

// The marker and the 8-byte file time (low half first, little-endian) that close every segment.
void AppendMarkerAndTime(Build& build, std::uint64_t fileTime) {
  AppendOrFail(build, SegmentMarker, kMarkerSize);
  std::uint8_t time[kFileTimeSize];
  for (std::uint32_t i = 0; i < kFileTimeSize; ++i) time[i] = static_cast<std::uint8_t>(fileTime >> (8 * i));
  AppendOrFail(build, time, kFileTimeSize);
}

// The texts for one kind of segment's failures.
struct SegmentTexts {
  int readCode;
  const char* readFailed;
  const char* writeFailed;
  int compressCode;
  const char* compressFailed;
};

// Compresses the open `source` as the next segment, then appends the marker and its file time.
void AppendSegment(Build& build, platform::File& source, const char* name, const SegmentTexts& texts) {
  switch (WriteCompressedSegment(build.writer, source, build.check, name)) {
    case SegmentResult::Ok: break;
    case SegmentResult::NoMemory: Fail(build, texts.compressCode, texts.compressFailed);
    case SegmentResult::ReadFailed: Fail(build, texts.readCode, texts.readFailed);
    case SegmentResult::WriteFailed: Fail(build, kFatalFile, texts.writeFailed);
    case SegmentResult::TooLarge: Fail(build, kFatalFile, kPackageTooLarge);
    case SegmentResult::MarkerInEveryStream: Fail(build, kFatalCodec, kMarkerEverywhere, name);
  }
  std::uint64_t fileTime = 0;
  if (!platform::GetLastWriteTime(source, fileTime)) Fail(build, texts.readCode, texts.readFailed);
  source.Close();
  AppendMarkerAndTime(build, fileTime);
}

// Steps 5 to 8: the version of the version file (VersionFile, else File01). A version is required
// even when the output name takes no tag.
FileVersion ReadBuildVersion(Build& build) {
  ScriptText value;
  bool present = ReadFilesEntry(build.log, build.listPath, 1, value);
  ScriptText versionFile;
  // Read with no default: an absent key gives the empty text, which leaves File01 in charge.
  switch (ReadScriptValue("Out", "VersionFile", nullptr, versionFile, build.listPath)) {
    case ScriptValue::Present:
      if (versionFile[0] != '\0') {
        std::memcpy(value, versionFile, sizeof value);
        present = true;
      }
      break;
    case ScriptValue::Missing:  // a value that begins with "@" is no file name either
      break;
    case ScriptValue::TooLong: Fail(build, kFatalScript, kValueTooLong, "Out/VersionFile");
  }
  const char* source = "";
  if (present) {
    source = RequireSourcePath(build.log, build.listPath, value,
                               "No comma in input filename directive. Check the .INI syntax at File01.\r\n");
  }
  static const char kNoVersion[] = "Unable to get build number from first file in list.\r\n";
  char versionPath[platform::kPathCapacity];
  if (IsAbsolutePath(source)) {
    std::snprintf(versionPath, sizeof versionPath, "%s", source);
  } else {
    char current[platform::kPathCapacity];
    if (!platform::CurrentDirectory(current)) Fail(build, kFatalFile, kNoVersion);
    const int length = std::snprintf(versionPath, sizeof versionPath, "%s\\%s", current, source);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof versionPath) {
      Fail(build, kFatalFile, "Path of the version file too long (259 characters at most): %s\r\n", source);
    }
  }
  // Preset: a version block without a fixed part stores nothing, and its tag then reads 0_00_00a.
  FileVersion version{0, 0, 0, 0};
  if (ReadFileVersion(versionPath, &version.major, &version.minor, &version.build, &version.revision) == 0) {
    Fail(build, kFatalFile, kNoVersion);
  }
  return version;
}

// Step 13: the stub, copied whole; it must hold the marker exactly once (its own copy, in its data),
// or readers would misplace the end of the stub.
void AppendStub(Build& build, const char* stubPath) {
  static const char kStubFailed[] = "Error reading the Installer file.\r\n";
  platform::File stub;
  if (!platform::OpenFile(stubPath, platform::OpenMode::ReadShared, stub)) Fail(build, kFatalFile, kStubFailed);
  constexpr std::uint32_t kChunk = 64 * 1024;
  std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
  if (!chunk) Fail(build, kFatalCodec, "Error allocating memory.\r\n");
  MarkerScan scan = StartMarkerScan();
  for (;;) {
    std::uint32_t got = 0;
    if (!platform::ReadFile(stub, chunk.get(), kChunk, got)) Fail(build, kFatalFile, kStubFailed);
    if (got == 0) break;
    FeedMarkerScan(scan, chunk.get(), got);
    AppendOrFail(build, chunk.get(), got);
  }
  if (scan.count == 0) {
    Fail(build, kFatalFile, "The Installer file holds no segment marker: it is no stub of this program.\r\n");
  }
  if (scan.count > 1) {
    Fail(build, kFatalFile,
         "The Installer file holds the segment marker more than once: it already carries a package.\r\n");
  }
  AppendOrFail(build, SegmentMarker, kMarkerSize);
}

}  // namespace

std::int32_t PackageBuilder(const char* argumentText) { return BuildPackage(argumentText, BuildOptions()); }

std::int32_t BuildPackage(const char* argumentText, const BuildOptions& options) {
  Build build;
  build.log.echo = options.echo;
  build.log.echoContext = options.context;
  build.listPath[0] = '\0';
  build.check = SegmentCheck{reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize, options.progress,
                             options.context};
  if (options.segmentProbe != nullptr) {
    build.check.pattern = options.segmentProbe;
    build.check.patternSize = options.segmentProbeSize;
  }

  // Steps 1 to 4: the log first, so that even a refused command line leaves its reason there.
  OpenBuildLog(build.log);
  char listPath[platform::kPathCapacity];
  if (PackingListPath(argumentText, listPath) != ListPathResult::Ok) {
    FailBuild(build.log, kFatalScript, nullptr,
              "Command line too long: the packing list path may have 259 characters at most.\r\n");
  }
  if (!platform::FileExists(listPath)) {
    FailBuild(build.log, kFatalFile, nullptr, "Unable to find setupqor.ini file as given on cmd line.\r\n");
  }
  std::memcpy(build.listPath, listPath, sizeof listPath);
  // A read-only packing list becomes writable: pruning edits it in place.
  platform::SetNormalAttributes(build.listPath);

  // Steps 5 to 11: version, output name, stub name.
  const FileVersion version = ReadBuildVersion(build);
  ScriptText outputName;
  if (!ReadListValue(build, "Out", "OutputName", outputName)) {
    Fail(build, kFatalScript, "Output filename directive missing. Check the packing list syntax.\r\n");
  }
  char outputPath[platform::kPathCapacity];
  switch (StampOutputName(outputName, version, outputPath)) {
    case StampResult::Ok: break;
    case StampResult::BadPercent:
      Fail(build, kFatalScript,
           "Output filename directive may hold one %s and %% only, no other %. Check the packing list "
           "syntax.\r\n");
    case StampResult::TooLong:
      Fail(build, kFatalScript, "Output filename too long with the build number (259 characters at most).\r\n");
  }
  ScriptText stubPath;
  if (!ReadListValue(build, "In", "QorFileName", stubPath)) {
    Fail(build, kFatalScript, "'In' executable filename directive missing. Check the packing list syntax.\r\n");
  }

  // Steps 12 to 14: the output, the stub and its marker, the pruned list.
  if (!platform::OpenFile(outputPath, platform::OpenMode::CreateAlways, build.output)) {
    Fail(build, kFatalFile, "Error creating the output file.\r\n");
  }
  if (!StartPackage(build.writer, build.output, options.packageLimit)) {
    Fail(build, kFatalCodec, "Error allocating memory.\r\n");
  }
  AppendStub(build, stubPath);
  PrunePackingList(build.log, build.listPath);

  // Step 15: the packing list itself, as the setup script; its time is taken after the pruning.
  {
    static const SegmentTexts kListTexts = {kFatalFile, "Error reading the .INI file.\r\n",
                                            "Error writing ini to the output file.\r\n", kFatalCodec,
                                            "Error compressing ini."};
    platform::File list;
    if (!platform::OpenFile(build.listPath, platform::OpenMode::ReadShared, list)) {
      Fail(build, kFatalFile, kListTexts.readFailed);
    }
    AppendSegment(build, list, build.listPath, kListTexts);
  }

  // Steps 16 and 17: every Files entry, in order.
  static const SegmentTexts kFileTexts = {kFatalFile, "Error reading the input file.\r\n", kWriteFailed,
                                          kFatalCodec, "Error allocating memory.\r\n"};
  int count = 0;
  for (int k = 1; k <= 99; ++k) {
    ScriptText entry;
    if (!ReadFilesEntry(build.log, build.listPath, k, entry)) break;
    ++count;
    const char* source = RequireSourcePath(build.log, build.listPath, entry,
                                           "No comma in input filename directive. Check the .INI syntax.\r\n");
    platform::File input;
    if (!platform::OpenFile(source, platform::OpenMode::ReadShared, input)) {
      Fail(build, kFatalScript, "\r\nError opening an input file.\r\n");
    }
    AppendSegment(build, input, source, kFileTexts);
  }
  if (count == 0) Fail(build, kFatalScript, "No input files. Check the .INF syntax.\r\n");

  // Steps 18 to 20: padding to a multiple of 4, the placeholder, the checksum over it all.
  static const std::uint8_t kZeros[4] = {0, 0, 0, 0};
  if (build.writer.length % 4 != 0) AppendOrFail(build, kZeros, 4 - build.writer.length % 4);
  AppendOrFail(build, kZeros, kChecksumSize);
  if (!FlushPackage(build.writer)) Fail(build, kFatalFile, kWriteFailed);
  PackageChecksum(build.output, kChecksumWrite, build.listPath);
  build.output.Close();
  return 0;
}
