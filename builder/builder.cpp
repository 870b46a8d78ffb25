// PackageBuilder: every check first, then the package in the order it is laid out. Every step
// returns a failure as a value whose reason is the build-log line; BuildPackage writes it as the
// log's last line and turns it into the exit status. Nothing is created or changed before the build
// knows that it writes none of the files it reads; the package is written beside its output name
// and replaces it only complete and checksummed, so a failed build leaves a previous package as it
// was.
#include "builder/builder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "builder/build_files.h"
#include "builder/build_log.h"
#include "builder/compress_segment.h"
#include "builder/packing_list.h"
#include "builder/segment_pipeline.h"
#include "builder/source_date.h"
#include "builder/stub_check.h"
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
const char kListReadFailed[] = "Error reading the .INI file.\r\n";
const char kSourceChanged[] =
    "%s changed while it was read: the package would hold neither version. Build again once it is written.\r\n";

// Everything a build step needs: the log, the packing list and the package being written.
struct Build {
  BuildLog log;
  char listPath[platform::kPathCapacity];
  SetupScript list;  // the packing list as read, before pruning
  char outputPath[platform::kPathCapacity];  // empty until the output name is known
  platform::File stub;
  platform::Replacement package;  // the package, beside its output name until complete
  PackageWriter writer;
  SegmentCheck check;
  TimeLimit timeLimit;                 // SOURCE_DATE_EPOCH, applied to every stored time
  const char* stubOverride = nullptr;  // BuildOptions::stubPath
  BuildReport* report = nullptr;       // BuildOptions::report
  std::uint64_t storedTime = 0;        // the time the last segment was stored with
};

// The files the build reads, with the stub it is told to use in place of the list's.
std::vector<BuildInput> Inputs(const Build& build) {
  return NamedInputs(build.listPath, build.list, build.stubOverride);
}

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

Failure WriteFailure(const Build& build) {
  return SystemFailure(kFatalFile, kWriteFailed, build.outputPath, build.writer.status);
}

Failure AppendBytes(Build& build, const void* bytes, std::uint32_t size) {
  switch (Append(build.writer, bytes, size)) {
    case WriteResult::Ok: return Failure();
    case WriteResult::Failed: return WriteFailure(build);
    case WriteResult::TooLarge: return BuildFailure(kFatalFile, kPackageTooLarge);
  }
  return WriteFailure(build);
}

// The marker and the 8-byte file time (low half first, little-endian) that close every segment.
// Every stored time passes here, so SOURCE_DATE_EPOCH is applied here alone.
Failure AppendMarkerAndTime(Build& build, std::uint64_t fileTime) {
  fileTime = LimitedTime(build.timeLimit, fileTime);
  build.storedTime = fileTime;
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

const SegmentTexts kFileTexts = {kFatalFile, "Error reading the input file.\r\n", kWriteFailed, kFatalCodec,
                                 "Error allocating memory.\r\n"};

// The build's failure for a segment's result; none for Ok. `why` is the system's reason for a
// failed read or write.
Failure SegmentFailure(const Build& build, SegmentResult result, const char* name, const SegmentTexts& texts,
                       const platform::Status& why) {
  switch (result) {
    case SegmentResult::Ok: return Failure();
    case SegmentResult::NoMemory: return BuildFailure(texts.compressCode, texts.compressFailed);
    case SegmentResult::ReadFailed: return SystemFailure(texts.readCode, texts.readFailed, name, why);
    case SegmentResult::WriteFailed: return SystemFailure(kFatalFile, texts.writeFailed, build.outputPath, why);
    case SegmentResult::TooLarge: return BuildFailure(kFatalFile, kPackageTooLarge);
    case SegmentResult::MarkerInEveryStream: return BuildFailure(kFatalCodec, kMarkerEverywhere, name);
    case SegmentResult::SourceChanged: return BuildFailure(kFatalFile, kSourceChanged, name);
  }
  return BuildFailure(kFatalFile, texts.writeFailed);
}

// Compresses the open `source` as the next segment, then appends the marker and its file time; a
// large source is coded in pieces on the threads of `helpers` when they are given. `sourceBytes`
// receives the bytes packed.
Failure AppendSegment(Build& build, platform::File& source, const char* name, const SegmentTexts& texts,
                      std::uint64_t& sourceBytes, SegmentHelpers* helpers = nullptr) {
  platform::Status read;
  const SegmentResult result =
      WriteCompressedSegment(build.writer, source, build.check, name, &read, &sourceBytes, helpers);
  const platform::Status& why = result == SegmentResult::WriteFailed ? build.writer.status : read;
  if (Failure failure = SegmentFailure(build, result, name, texts, why)) return failure;
  std::uint64_t fileTime = 0;
  if (const platform::Status timed = platform::GetLastWriteTime(source, fileTime); !timed) {
    return SystemFailure(texts.readCode, texts.readFailed, name, timed);
  }
  source.Close();
  return AppendMarkerAndTime(build, fileTime);
}

const char kNoVersion[] = "Unable to get build number from first file in list.\r\n";

// The path the version reader gets for a source (platform text): a relative one joined to the
// current directory, since Windows looks for a bare name along the DLL search path instead.
Failure VersionPath(const std::string& source, char (&versionPath)[platform::kPathCapacity]) {
  std::string path = source;
  if (!IsAbsolutePath(source.c_str())) {
    char current[platform::kPathCapacity];
    if (!platform::CurrentDirectory(current)) return BuildFailure(kFatalFile, kNoVersion);
    path = std::string(current) + "\\" + source;
  }
  if (!platform::PathFits(path)) {
    return BuildFailure(kFatalFile, "Path of the version file too long (259 characters at most): %s\r\n",
                        source.c_str());
  }
  std::memcpy(versionPath, path.c_str(), path.size() + 1);
  return Failure();
}

// The installer reads the version block of the first payload file and stops without one. Checked
// before any version is read, so that a File01 without one gets this message, not the version's.
Failure CheckFirstFileVersion(const std::string& sourcePath) {
  char versionPath[platform::kPathCapacity];
  if (Failure failure = VersionPath(sourcePath, versionPath)) return failure;
  if (KindOfPath(versionPath) != platform::FileKind::Regular) return Failure();
  if (ReadFileVersion(versionPath, nullptr, nullptr, nullptr, nullptr) != 0) return Failure();
  return BuildFailure(kFatalFile,
                      "The package would not install: the first file, %s, has no version block. List a file with "
                      "one as File01.\r\n",
                      sourcePath.c_str());
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
  const bool versionFileNamed = named && !versionFile.empty();
  if (versionFileNamed) {
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
  const std::string sourcePath = platform::FromScriptText(source);
  if (present && !versionFileNamed) {
    if (Failure failure = CheckFirstFileVersion(sourcePath)) return failure;
  }
  char versionPath[platform::kPathCapacity];
  if (Failure failure = VersionPath(sourcePath, versionPath)) return failure;
  // The version reader opens the file: a pipe there would hold the build forever.
  const platform::FileKind kind = KindOfPath(versionPath);
  if (!sourcePath.empty() && (kind == platform::FileKind::Folder || kind == platform::FileKind::Other)) {
    return NotAFile(kFatalFile, "The version file " + sourcePath, kind);
  }
  // Preset: a version block without a fixed part stores nothing, and its tag then reads 0_00_00a.
  version = FileVersion{0, 0, 0, 0};
  if (ReadFileVersion(versionPath, &version.major, &version.minor, &version.build, &version.revision) == 0) {
    return BuildFailure(kFatalFile, kNoVersion);
  }
  return Failure();
}

const char kStubFailed[] = "Error reading the Installer file.\r\n";

// Reads the open stub from its start through `scan`. With `copy` each piece is appended to the
// package; without, the stub is only checked to fit the package's limit.
Failure ScanStub(Build& build, const char* stubPath, StubScan& scan, bool copy) {
  constexpr std::uint32_t kChunk = 64 * 1024;
  std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
  if (!chunk) return BuildFailure(kFatalCodec, "Error allocating memory.\r\n");
  if (const platform::Status moved = platform::Seek(build.stub, 0); !moved) {
    return SystemFailure(kFatalFile, kStubFailed, stubPath, moved);
  }
  scan = StartStubScan();
  for (;;) {
    std::uint32_t got = 0;
    if (const platform::Status read = platform::ReadFile(build.stub, chunk.get(), kChunk, got); !read) {
      return SystemFailure(kFatalFile, kStubFailed, stubPath, read);
    }
    if (got == 0) break;
    FeedStubScan(scan, chunk.get(), got);
    if (copy) {
      if (Failure failure = AppendBytes(build, chunk.get(), got)) return failure;
    } else if (scan.length > build.writer.limit) {
      return BuildFailure(kFatalFile, kPackageTooLarge);
    }
  }
  return Failure();
}

Failure JudgeStubScan(const StubScan& scan, const char* stubPath) {
  switch (JudgeStub(scan)) {
    case StubVerdict::Ok: return Failure();
    case StubVerdict::NotExecutable:
      return BuildFailure(kFatalFile,
                          "The Installer file %s is no Windows executable (no MZ header with a PE signature).\r\n",
                          stubPath);
    case StubVerdict::NoMarker:
      return BuildFailure(kFatalFile, "The Installer file holds no segment marker: it is no stub of this program.\r\n");
    case StubVerdict::SeveralMarkers: break;
  }
  return BuildFailure(kFatalFile,
                      "The Installer file holds the segment marker more than once: it already carries a package.\r\n");
}

// Opens the stub and judges it whole before anything is written: an executable holding the marker
// exactly once (its own copy, in its data), or readers would misplace the end of the stub.
Failure OpenStub(Build& build, const char* stubPath) {
  const platform::FileKind kind = KindOfPath(stubPath);
  if (kind == platform::FileKind::Folder || kind == platform::FileKind::Other) {
    return NotAFile(kFatalFile, std::string("The Installer file ") + stubPath, kind);
  }
  if (kind == platform::FileKind::Missing) return BuildFailure(kFatalFile, kStubFailed);
  if (const platform::Status opened = platform::OpenRegularFile(stubPath, build.stub); !opened) {
    return SystemFailure(kFatalFile, kStubFailed, stubPath, opened);
  }
  StubScan scan;
  if (Failure failure = ScanStub(build, stubPath, scan, false)) return failure;
  return JudgeStubScan(scan, stubPath);
}

// The stub, copied whole and judged again as it is copied (it may have changed since it was
// judged), then the marker that ends it.
Failure AppendStub(Build& build, const char* stubPath) {
  StubScan scan;
  if (Failure failure = ScanStub(build, stubPath, scan, true)) return failure;
  if (Failure failure = JudgeStubScan(scan, stubPath)) return failure;
  build.stub.Close();
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
  if (!FlushPackage(build.writer)) return WriteFailure(build);
  static const char kReadFailed[] = "Unable to read from self while creating/verifying checksum...\r\n";
  const std::uint32_t summed = build.writer.length - kChecksumSize;
  std::uint32_t sum = 0;
  platform::File& output = build.package.file;
  platform::Status read = platform::Seek(output, 0);
  if (read && !PackageChecksum(platform::ReadFromFile, &output, summed, sum)) read = false;
  if (read) read = platform::Seek(output, summed);
  if (!read) return SystemFailure(kFatalFile, kReadFailed, build.outputPath, read);
  std::uint8_t word[kChecksumSize];
  StoreChecksumWord(sum, word);
  if (const platform::Status written = platform::WriteFile(output, word, kChecksumSize); !written) {
    return SystemFailure(kFatalFile, "Unable to write checksum\r\n", build.outputPath, written);
  }
  if (const platform::Status moved = build.package.Commit(); !moved) {
    return SystemFailure(kFatalFile, "Error moving the finished package into place as %s.\r\n", build.outputPath,
                         moved);
  }
  return Failure();
}

// Adds the segment that began at `start` and has just been closed with its marker and time to the
// report of the build, when one is asked for.
void ReportPiece(Build& build, const std::string& name, const std::string& source, std::uint32_t start,
                 std::uint64_t sourceBytes) {
  if (build.report == nullptr) return;
  const std::uint32_t packed = build.writer.length - start - kMarkerSize - kFileTimeSize;
  build.report->pieces.push_back(BuiltPiece{name, source, packed, sourceBytes, build.storedTime});
}

// Stores the pruning in the packing list, unless there is none. The list is replaced whole, and only
// when it still holds what the build read: an edit saved in the meantime is not thrown away.
Failure StorePrunedList(Build& build, const std::string& prunedText) {
  if (prunedText == build.list.text()) return Failure();
  std::string now;
  if (!ReadProfileText(build.listPath, now) || now != build.list.text()) {
    return BuildFailure(kFatalFile, "The packing list %s changed during the build. Run the build again.\r\n",
                        build.listPath);
  }
  // A read-only list becomes writable: Windows moves nothing over a read-only file.
  platform::SetNormalAttributes(build.listPath);
  if (const platform::Status stored = StorePackingList(build.listPath, prunedText); !stored) {
    return SystemFailure(kFatalScript, "Write to  %s failed, exiting.\r\n", build.listPath, stored);
  }
  return Failure();
}

// A warning when the Files section holds keys past File99, which no build or install reads.
void WarnAboutLateEntries(Build& build) {
  long lowest = 0;
  for (const std::string& name : build.list.KeyNames("Files")) {
    if (name.size() < 5 || name.size() > 12 || name.compare(0, 4, "file") != 0) continue;
    if (name.find_first_not_of("0123456789", 4) != std::string::npos) continue;
    const long number = std::strtol(name.c_str() + 4, nullptr, 10);
    if (number > kLastPayloadEntry && (lowest == 0 || number < lowest)) lowest = number;
  }
  if (lowest == 0) return;
  WriteLogLine(build.log, FormatLogLine("Warning: %s and the keys after it are ignored: a package holds File01 to "
                                        "File99 at most.\r\n",
                                        ("File" + std::to_string(lowest)).c_str()));
}

// Reads the packing list that the argument text names, whole, and parses it once.
Failure ReadPackingList(Build& build, const char* argumentText) {
  if (PackingListPath(argumentText, build.listPath) != ListPathResult::Ok) {
    return BuildFailure(kFatalScript,
                        "Command line too long: the packing list path may have 259 characters at most.\r\n");
  }
  const platform::FileKind listKind = KindOfPath(build.listPath);
  if (listKind == platform::FileKind::Missing) {
    return BuildFailure(kFatalFile, "Unable to find setupqor.ini file as given on cmd line.\r\n");
  }
  if (listKind != platform::FileKind::Regular) {
    return NotAFile(kFatalFile, std::string("The packing list ") + build.listPath, listKind);
  }
  std::string text;
  if (const platform::Status read = ReadProfileText(build.listPath, text); !read) {
    return SystemFailure(kFatalFile, kListReadFailed, build.listPath, read);
  }
  build.list = SetupScript(std::move(text));
  WarnAboutLateEntries(build);
  // Once the list is known, so that the log of a refused value replaces none of the files it names.
  return ReadTimeLimit(build.timeLimit);
}

// The package's path: OutputName with the version tag (or qorpack's --output), as platform text in
// build.outputPath.
Failure ResolveOutputPath(Build& build, const BuildOptions& options, const FileVersion& version) {
  std::string outputName;
  bool present = false;
  if (Failure failure = ReadListValue(build.list, "Out", "OutputName", outputName, present)) return failure;
  // An empty name would only fail once everything is compressed, when the package is moved into place.
  if (!present || outputName.empty()) {
    return BuildFailure(kFatalScript, "Output filename directive missing. Check the packing list syntax.\r\n");
  }
  static const char kOutputTooLong[] = "Output filename too long with the build number (259 characters at most).\r\n";
  char stamped[platform::kPathCapacity];
  switch (StampOutputName(outputName.c_str(), version, stamped)) {
    case StampResult::Ok: break;
    case StampResult::BadPercent:
      return BuildFailure(kFatalScript,
                          "Output filename directive may hold one %s and %% only, no other %. Check the packing "
                          "list syntax.\r\n");
    case StampResult::TooLong: return BuildFailure(kFatalScript, kOutputTooLong);
  }
  // The packing list's names become paths here, and stay platform text from now on.
  const std::string outputText = platform::FromScriptText(stamped);
  if (!platform::PathFits(outputText)) return BuildFailure(kFatalScript, kOutputTooLong);
  std::memcpy(build.outputPath, outputText.c_str(), outputText.size() + 1);
  // qorpack's --output takes the place of the stamped name.
  if (options.outputPath != nullptr) {
    if (!platform::PathFits(options.outputPath)) {
      return BuildFailure(kFatalScript, "Output filename too long (259 characters at most).\r\n");
    }
    std::memcpy(build.outputPath, options.outputPath, std::strlen(options.outputPath) + 1);
  }
  return Failure();
}

// The stub's path: qorpack's --stub, else In/QorFileName, as platform text.
Failure ReadStubPath(const Build& build, const BuildOptions& options, std::string& stubPath) {
  if (options.stubPath != nullptr) {
    stubPath = options.stubPath;
    return Failure();
  }
  bool present = false;
  if (Failure failure = ReadListValue(build.list, "In", "QorFileName", stubPath, present)) return failure;
  if (!present) {
    return BuildFailure(kFatalScript, "'In' executable filename directive missing. Check the packing list syntax.\r\n");
  }
  stubPath = platform::FromScriptText(stubPath);
  return Failure();
}

// The setup script the package will carry: the list without its missing sources, judged as the
// installer will judge it, all before the first byte is written. `plan` is what the package holds.
Failure PlanPackage(Build& build, bool strict, std::string& prunedText, InstallPlan& plan) {
  if (Failure failure = PrunePackingList(build.log, build.listPath, build.list, prunedText, strict)) return failure;
  const SetupScript script(prunedText);
  if (ReadPayloadList(script).empty()) {
    // Nothing is left to pack: the list keeps its pruning, so that it shows which sources were
    // missing, and no package is started.
    if (Failure failure = StorePrunedList(build, prunedText)) return failure;
    return BuildFailure(kFatalScript, "No input files. Check the .INF syntax.\r\n");
  }
  if (Failure failure = CheckSetupScript(script, plan)) {
    return BuildFailure(kFatalScript, "The package would not install: %s. Check the packing list.\r\n",
                        platform::FromScriptText(failure.reason).c_str());
  }
  return CheckFirstFileVersion(platform::FromScriptText(plan.files.front().source));
}

// The packing list itself, as the setup script; its time is taken after the pruning.
Failure AppendSetupScript(Build& build) {
  static const SegmentTexts kListTexts = {kFatalFile, kListReadFailed, "Error writing ini to the output file.\r\n",
                                          kFatalCodec, "Error compressing ini."};
  platform::File list;
  if (const platform::Status opened = platform::OpenRegularFile(build.listPath, list); !opened) {
    return SystemFailure(kFatalFile, kListTexts.readFailed, build.listPath, opened);
  }
  const std::uint32_t start = build.writer.length;
  std::uint64_t bytes = 0;
  if (Failure failure = AppendSegment(build, list, build.listPath, kListTexts, bytes)) return failure;
  ReportPiece(build, kScriptName, build.listPath, start, bytes);
  return Failure();
}

// Every payload file of the plan, in order; their segments are compressed ahead on the build's
// threads.
Failure AppendPayload(Build& build, const InstallPlan& plan, const BuildOptions& options) {
  static const char kOpenFailed[] = "\r\nError opening an input file.\r\n";
  std::vector<std::string> sources;
  for (const PlannedFile& file : plan.files) sources.push_back(platform::FromScriptText(file.source));
  SegmentPipeline pipeline(sources, build.check, options.jobs != 0 ? options.jobs : DefaultBuildJobs());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const char* source = sources[i].c_str();
    const std::uint32_t start = build.writer.length;
    HeldSegment held = pipeline.Take(i);
    if (held.streamed) {
      platform::File input;
      if (const platform::Status opened = platform::OpenRegularFile(source, input); !opened) {
        return SystemFailure(kFatalScript, kOpenFailed, source, opened);
      }
      std::uint64_t bytes = 0;
      if (Failure failure = AppendSegment(build, input, source, kFileTexts, bytes, &pipeline)) return failure;
      ReportPiece(build, plan.files[i].name, sources[i], start, bytes);
      continue;
    }
    if (!held.opened) return SystemFailure(kFatalScript, kOpenFailed, source, held.opened);
    if (Failure failure = SegmentFailure(build, held.result, source, kFileTexts, held.why)) return failure;
    if (!held.timeRead) return SystemFailure(kFileTexts.readCode, kFileTexts.readFailed, source, held.timeRead);
    if (Failure failure = AppendBytes(build, held.stream.data(), static_cast<std::uint32_t>(held.stream.size()))) {
      return failure;
    }
    if (build.check.progress != nullptr) {
      build.check.progress(build.check.progressContext, source, held.stream.size(), held.stream.size());
    }
    if (Failure failure = AppendMarkerAndTime(build, held.fileTime)) return failure;
    ReportPiece(build, plan.files[i].name, sources[i], start, held.sourceBytes);
  }
  return Failure();
}

Failure Run(Build& build, const char* argumentText, const BuildOptions& options) {
  build.writer.limit = options.packageLimit;
  if (Failure failure = ReadPackingList(build, argumentText)) return failure;

  // What the package is made of and where it goes.
  FileVersion version{};
  if (Failure failure = ReadBuildVersion(build, version)) return failure;
  if (Failure failure = ResolveOutputPath(build, options, version)) return failure;
  std::string stubPath;
  if (Failure failure = ReadStubPath(build, options, stubPath)) return failure;
  std::string prunedText;
  InstallPlan plan;
  if (Failure failure = PlanPackage(build, options.strict, prunedText, plan)) return failure;
  if (Failure failure = OpenStub(build, stubPath.c_str())) return failure;
  if (Failure failure = CheckWrittenFiles(Inputs(build), build.outputPath)) return failure;

  // From here on files are written: the package beside its output name, the stub and its marker,
  // the pruned list, the script and the payload.
  if (const platform::Status begun = build.package.Begin(build.outputPath); !begun) {
    return SystemFailure(kFatalFile, "Error creating the output file.\r\n", build.outputPath, begun);
  }
  if (!StartPackage(build.writer, build.package.file, options.packageLimit)) {
    return BuildFailure(kFatalCodec, "Error allocating memory.\r\n");
  }
  if (Failure failure = AppendStub(build, stubPath.c_str())) return failure;
  if (Failure failure = StorePrunedList(build, prunedText)) return failure;
  if (Failure failure = AppendSetupScript(build)) return failure;
  if (Failure failure = AppendPayload(build, plan, options)) return failure;
  if (Failure failure = CloseWithChecksum(build)) return failure;
  if (build.report != nullptr) {
    build.report->output = build.outputPath;
    build.report->size = build.writer.length;
  }
  return Failure();
}

// Writes the log where it replaces none of the build's inputs and not its output: as logfile.txt,
// else (when that file is one of them) as logfile.refused.txt, else nowhere (the exit status and,
// for qorpack, standard error still tell). Fails with the system's reason, `name` then naming the
// log that could not be written.
platform::Status SaveLog(const Build& build, const char*& name) {
  const std::vector<BuildInput> inputs = Inputs(build);
  const char* output = build.outputPath[0] != '\0' ? build.outputPath : nullptr;
  for (const char* candidate : {kBuildLogName, kRefusedBuildLogName}) {
    if (MayWriteLog(candidate, inputs, output)) {
      name = candidate;
      return SaveBuildLog(build.log, candidate);
    }
  }
  return true;
}

}  // namespace

std::int32_t PackageBuilder(const char* argumentText) { return BuildPackage(argumentText, BuildOptions()); }

std::int32_t BuildPackage(const char* argumentText, const BuildOptions& options) {
  Build build;
  build.log.echo = options.echo;
  build.log.echoContext = options.context;
  build.listPath[0] = '\0';
  build.outputPath[0] = '\0';
  build.stubOverride = options.stubPath;
  build.report = options.report;
  build.check = SegmentCheck{reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize, options.progress,
                             options.context};
  if (options.segmentProbe != nullptr) {
    build.check.pattern = options.segmentProbe;
    build.check.patternSize = options.segmentProbeSize;
  }
  const Failure failure = Run(build, argumentText, options);
  // An unfinished package goes before the log is written: on a full disk its space is what lets
  // the log's last line be written at all.
  build.package.Abandon();
  build.stub.Close();
  // The builder's one place for a failure: its reason is the log's last line; nothing is shown.
  if (failure) WriteLogLine(build.log, failure.reason);
  // A good build logs only its warnings.
  if (!failure && options.report != nullptr) {
    for (std::size_t at = 0; at < build.log.text.size();) {
      std::size_t end = build.log.text.find('\n', at);
      if (end == std::string::npos) end = build.log.text.size();
      std::string line = build.log.text.substr(at, end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      options.report->warnings.push_back(line);
      at = end + 1;
    }
  }
  const char* logName = kBuildLogName;
  if (const platform::Status saved = SaveLog(build, logName); !saved) {
    // A log that cannot be written would lose a failed build's reason, or a good build's warnings,
    // without a word: standard error tells both (qorpack has echoed the lines already), and the
    // build counts as failed.
    if (options.echo == nullptr && failure) std::fputs(failure.reason.c_str(), stderr);
    std::fprintf(stderr, "The build log cannot be written. %s\n", SystemReason(logName, saved).c_str());
    return -1;
  }
  return failure ? -1 : 0;
}
