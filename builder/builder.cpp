// PackageBuilder: the build in the order the package is laid out. Every step returns a failure as a
// value whose reason is the build-log line; BuildPackage writes it as the log's last line and turns
// it into the exit status. A build that succeeds has written a complete, checksummed package.
#include "builder/builder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "builder/build_log.h"
#include "builder/compress_segment.h"
#include "builder/packing_list.h"
#include "builder/segment_pipeline.h"
#include "builder/version.h"
#include "package/checksum.h"
#include "package/layout.h"
#include "package/marker_scan.h"
#include "script/ini.h"
#include "script/payload_list.h"
#include "script/script_check.h"

namespace {

const char kWriteFailed[] = "Error writing to the output file.\r\n";
const char kPackageTooLarge[] =
    "The package would pass 2 GiB, the most a package can hold. Split the payload.\r\n";
const char kValueTooLong[] =
    "Value too long (259 characters at most) at %s. Check the packing list syntax.\r\n";
const char kMarkerEverywhere[] =
    "Error compressing %s: every compressed form of it holds the segment marker.\r\n";
const char kNoComma[] = "No comma in input filename directive. Check the .INI syntax.\r\n";

// Everything a build step needs: the log, the packing list and the package being written.
struct Build {
  BuildLog log;
  char listPath[platform::kPathCapacity];
  SetupScript list;  // the packing list as read, before pruning
  platform::File output;
  PackageWriter writer;
  SegmentCheck check;
};

// Reads a value of the packing list with the "@" convention; `present` tells whether it is there.
// A value too long to hold whole fails the build: a cut path would name another file.
Failure ReadListValue(const SetupScript& list, const char* section, const char* key, std::string& value,
                      bool& present) {
  switch (list.Read(section, key, value)) {
    case ScriptValue::Present: present = true; return Failure();
    case ScriptValue::Missing: present = false; return Failure();
    case ScriptValue::TooLong: break;
  }
  return BuildFailure(kFatalScript, kValueTooLong, (std::string(section) + "/" + key).c_str());
}

Failure AppendBytes(Build& build, const void* bytes, std::uint32_t size) {
  switch (Append(build.writer, bytes, size)) {
    case WriteResult::Ok: return Failure();
    case WriteResult::Failed: return BuildFailure(kFatalFile, kWriteFailed);
    case WriteResult::TooLarge: return BuildFailure(kFatalFile, kPackageTooLarge);
  }
  return BuildFailure(kFatalFile, kWriteFailed);
}

// The marker and the 8-byte file time (low half first, little-endian) that close every segment.
Failure AppendMarkerAndTime(Build& build, std::uint64_t fileTime) {
  if (Failure failure = AppendBytes(build, SegmentMarker, kMarkerSize)) return failure;
  std::uint8_t time[kFileTimeSize];
  for (std::uint32_t i = 0; i < kFileTimeSize; ++i) time[i] = static_cast<std::uint8_t>(fileTime >> (8 * i));
  return AppendBytes(build, time, kFileTimeSize);
}

// The texts for one kind of segment's failures.
struct SegmentTexts {
  int readCode;
  const char* readFailed;
  const char* writeFailed;
  int compressCode;
  const char* compressFailed;
};

// The build's failure for a segment's result; none for Ok.
Failure SegmentFailure(SegmentResult result, const char* name, const SegmentTexts& texts) {
  switch (result) {
    case SegmentResult::Ok: return Failure();
    case SegmentResult::NoMemory: return BuildFailure(texts.compressCode, texts.compressFailed);
    case SegmentResult::ReadFailed: return BuildFailure(texts.readCode, texts.readFailed);
    case SegmentResult::WriteFailed: return BuildFailure(kFatalFile, texts.writeFailed);
    case SegmentResult::TooLarge: return BuildFailure(kFatalFile, kPackageTooLarge);
    case SegmentResult::MarkerInEveryStream: return BuildFailure(kFatalCodec, kMarkerEverywhere, name);
  }
  return BuildFailure(kFatalFile, texts.writeFailed);
}

// Compresses the open `source` as the next segment, then appends the marker and its file time.
Failure AppendSegment(Build& build, platform::File& source, const char* name, const SegmentTexts& texts) {
  if (Failure failure = SegmentFailure(WriteCompressedSegment(build.writer, source, build.check, name), name, texts)) {
    return failure;
  }
  std::uint64_t fileTime = 0;
  if (!platform::GetLastWriteTime(source, fileTime)) return BuildFailure(texts.readCode, texts.readFailed);
  source.Close();
  return AppendMarkerAndTime(build, fileTime);
}

// The version that stamps the output name: the version file's (VersionFile, else File01). A version
// is required even when the output name takes no tag.
Failure ReadBuildVersion(const Build& build, FileVersion& version) {
  std::string value;
  bool present = false;
  if (Failure failure = ReadFilesEntry(build.list, 1, value, present)) return failure;
  // An absent VersionFile, an empty one and one that begins with "@" all leave File01 in charge.
  std::string versionFile;
  bool named = false;
  if (Failure failure = ReadListValue(build.list, "Out", "VersionFile", versionFile, named)) return failure;
  if (named && !versionFile.empty()) {
    value = versionFile;
    present = true;
  }
  const char* source = "";
  if (present) {
    if (Failure failure = RequireSourcePath(
            value, "No comma in input filename directive. Check the .INI syntax at File01.\r\n", source)) {
      return failure;
    }
  }
  static const char kNoVersion[] = "Unable to get build number from first file in list.\r\n";
  char versionPath[platform::kPathCapacity];
  if (IsAbsolutePath(source)) {
    std::snprintf(versionPath, sizeof versionPath, "%s", source);
  } else {
    char current[platform::kPathCapacity];
    if (!platform::CurrentDirectory(current)) return BuildFailure(kFatalFile, kNoVersion);
    const int length = std::snprintf(versionPath, sizeof versionPath, "%s\\%s", current, source);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof versionPath) {
      return BuildFailure(kFatalFile, "Path of the version file too long (259 characters at most): %s\r\n", source);
    }
  }
  // Preset: a version block without a fixed part stores nothing, and its tag then reads 0_00_00a.
  version = FileVersion{0, 0, 0, 0};
  if (ReadFileVersion(versionPath, &version.major, &version.minor, &version.build, &version.revision) == 0) {
    return BuildFailure(kFatalFile, kNoVersion);
  }
  return Failure();
}

// The stub, copied whole; it must hold the marker exactly once (its own copy, in its data), or
// readers would misplace the end of the stub.
Failure AppendStub(Build& build, const char* stubPath) {
  static const char kStubFailed[] = "Error reading the Installer file.\r\n";
  platform::File stub;
  if (!platform::OpenFile(stubPath, platform::OpenMode::ReadShared, stub)) return BuildFailure(kFatalFile, kStubFailed);
  constexpr std::uint32_t kChunk = 64 * 1024;
  std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
  if (!chunk) return BuildFailure(kFatalCodec, "Error allocating memory.\r\n");
  MarkerScan scan = StartMarkerScan();
  for (;;) {
    std::uint32_t got = 0;
    if (!platform::ReadFile(stub, chunk.get(), kChunk, got)) return BuildFailure(kFatalFile, kStubFailed);
    if (got == 0) break;
    FeedMarkerScan(scan, chunk.get(), got);
    if (Failure failure = AppendBytes(build, chunk.get(), got)) return failure;
  }
  if (scan.count == 0) {
    return BuildFailure(kFatalFile, "The Installer file holds no segment marker: it is no stub of this program.\r\n");
  }
  if (scan.count > 1) {
    return BuildFailure(kFatalFile,
                        "The Installer file holds the segment marker more than once: it already carries a package.\r\n");
  }
  return AppendBytes(build, SegmentMarker, kMarkerSize);
}

// The padding to a multiple of 4 and a placeholder word (so the size limit counts it), then the
// checksum over everything before it in the placeholder's place.
Failure CloseWithChecksum(Build& build) {
  static const std::uint8_t kZeros[4] = {0, 0, 0, 0};
  if (build.writer.length % 4 != 0) {
    if (Failure failure = AppendBytes(build, kZeros, 4 - build.writer.length % 4)) return failure;
  }
  if (Failure failure = AppendBytes(build, kZeros, kChecksumSize)) return failure;
  if (!FlushPackage(build.writer)) return BuildFailure(kFatalFile, kWriteFailed);
  static const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...\r\n";
  const std::uint32_t summed = build.writer.length - kChecksumSize;
  std::uint32_t sum = 0;
  if (!platform::Seek(build.output, 0) || !PackageChecksum(platform::ReadFromFile, &build.output, summed, sum) ||
      !platform::Seek(build.output, summed)) {
    return BuildFailure(kFatalFile, kReadFailed);
  }
  std::uint8_t word[kChecksumSize];
  StoreChecksumWord(sum, word);
  if (!platform::WriteFile(build.output, word, kChecksumSize)) {
    return BuildFailure(kFatalFile, "Unable to write checksum\r\n");
  }
  build.output.Close();
  return Failure();
}

Failure Run(Build& build, const char* argumentText, const BuildOptions& options) {
  if (PackingListPath(argumentText, build.listPath) != ListPathResult::Ok) {
    return BuildFailure(kFatalScript,
                        "Command line too long: the packing list path may have 259 characters at most.\r\n");
  }
  if (!platform::FileExists(build.listPath)) {
    return BuildFailure(kFatalFile, "Unable to find setupqor.ini file as given on cmd line.\r\n");
  }
  // A read-only packing list becomes writable: pruning edits it in place.
  platform::SetNormalAttributes(build.listPath);
  std::string text;
  if (!ReadProfileText(build.listPath, text)) return BuildFailure(kFatalFile, "Error reading the .INI file.\r\n");
  build.list = SetupScript(std::move(text));

  // What the package is made of and where it goes.
  FileVersion version{};
  if (Failure failure = ReadBuildVersion(build, version)) return failure;
  std::string outputName;
  bool present = false;
  if (Failure failure = ReadListValue(build.list, "Out", "OutputName", outputName, present)) return failure;
  if (!present) return BuildFailure(kFatalScript, "Output filename directive missing. Check the packing list syntax.\r\n");
  char outputPath[platform::kPathCapacity];
  switch (StampOutputName(outputName.c_str(), version, outputPath)) {
    case StampResult::Ok: break;
    case StampResult::BadPercent:
      return BuildFailure(kFatalScript,
                          "Output filename directive may hold one %s and %% only, no other %. Check the packing "
                          "list syntax.\r\n");
    case StampResult::TooLong:
      return BuildFailure(kFatalScript,
                          "Output filename too long with the build number (259 characters at most).\r\n");
  }
  std::string stubPath;
  if (Failure failure = ReadListValue(build.list, "In", "QorFileName", stubPath, present)) return failure;
  if (!present) {
    return BuildFailure(kFatalScript, "'In' executable filename directive missing. Check the packing list syntax.\r\n");
  }

  // The setup script the package will carry: the list without its missing sources, judged as the
  // installer will judge it, all before the first byte is written.
  std::string prunedText;
  if (Failure failure = PrunePackingList(build.log, build.listPath, build.list, prunedText)) return failure;
  const SetupScript script(prunedText);
  const std::vector<PayloadEntry> entries = ReadPayloadList(script);
  if (entries.empty()) {
    // Nothing is left to pack: the list keeps its pruning, so that it shows which sources were
    // missing, and no package is started.
    if (!StoreProfileText(build.listPath, build.list.text(), script.text())) {
      return BuildFailure(kFatalScript, "Write to  %s failed, exiting.\r\n", build.listPath);
    }
    return BuildFailure(kFatalScript, "No input files. Check the .INF syntax.\r\n");
  }
  if (Failure failure = CheckSetupScript(script)) {
    return BuildFailure(kFatalScript, "The package would not install: %s. Check the packing list.\r\n",
                        failure.reason.c_str());
  }

  // The output, the stub and its marker, the pruned list.
  if (!platform::OpenFile(outputPath, platform::OpenMode::CreateAlways, build.output)) {
    return BuildFailure(kFatalFile, "Error creating the output file.\r\n");
  }
  if (!StartPackage(build.writer, build.output, options.packageLimit)) {
    return BuildFailure(kFatalCodec, "Error allocating memory.\r\n");
  }
  if (Failure failure = AppendStub(build, stubPath.c_str())) return failure;
  if (!StoreProfileText(build.listPath, build.list.text(), script.text())) {
    return BuildFailure(kFatalScript, "Write to  %s failed, exiting.\r\n", build.listPath);
  }

  // The packing list itself, as the setup script; its time is taken after the pruning.
  {
    static const SegmentTexts kListTexts = {kFatalFile, "Error reading the .INI file.\r\n",
                                            "Error writing ini to the output file.\r\n", kFatalCodec,
                                            "Error compressing ini."};
    platform::File list;
    if (!platform::OpenFile(build.listPath, platform::OpenMode::ReadShared, list)) {
      return BuildFailure(kFatalFile, kListTexts.readFailed);
    }
    if (Failure failure = AppendSegment(build, list, build.listPath, kListTexts)) return failure;
  }

  // Every Files entry, in order; their segments are compressed ahead on the build's threads.
  static const SegmentTexts kFileTexts = {kFatalFile, "Error reading the input file.\r\n", kWriteFailed,
                                          kFatalCodec, "Error allocating memory.\r\n"};
  static const char kOpenFailed[] = "\r\nError opening an input file.\r\n";
  std::vector<std::string> sources;
  for (int k = 1; k <= static_cast<int>(entries.size()); ++k) {
    std::string value;
    if (Failure failure = ReadFilesEntry(script, k, value, present)) return failure;
    const char* source = nullptr;
    if (Failure failure = RequireSourcePath(value, kNoComma, source)) return failure;
    sources.emplace_back(source);
  }
  SegmentPipeline pipeline(sources, build.check, options.jobs != 0 ? options.jobs : DefaultBuildJobs());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const char* source = sources[i].c_str();
    HeldSegment held = pipeline.Take(i);
    if (held.streamed) {
      platform::File input;
      if (!platform::OpenFile(source, platform::OpenMode::ReadShared, input)) {
        return BuildFailure(kFatalScript, kOpenFailed);
      }
      if (Failure failure = AppendSegment(build, input, source, kFileTexts)) return failure;
      continue;
    }
    if (!held.opened) return BuildFailure(kFatalScript, kOpenFailed);
    if (Failure failure = SegmentFailure(held.result, source, kFileTexts)) return failure;
    if (!held.timeRead) return BuildFailure(kFileTexts.readCode, kFileTexts.readFailed);
    if (Failure failure = AppendBytes(build, held.stream.data(), static_cast<std::uint32_t>(held.stream.size()))) {
      return failure;
    }
    if (build.check.progress != nullptr) {
      build.check.progress(build.check.progressContext, source, held.stream.size(), held.stream.size());
    }
    if (Failure failure = AppendMarkerAndTime(build, held.fileTime)) return failure;
  }

  return CloseWithChecksum(build);
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
  // The log first, so that even a refused command line leaves its reason there.
  OpenBuildLog(build.log);
  const Failure failure = Run(build, argumentText, options);
  if (!failure) return 0;
  // The builder's one place for a failure: its reason is the log's last line; nothing is shown.
  WriteLogLine(build.log, failure.reason);
  build.log.file.Close();
  return -1;
}
