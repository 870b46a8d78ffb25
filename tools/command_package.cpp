// qorpack list, verify and extract: read a package with the installer's own reader, script bound and
// validity check, and act on the plan that check hands back, so that verify refuses what the
// installer refuses, for the same reason and with the same error code. Package texts are shown with
// their control characters escaped.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "installer/payload.h"
#include "installer/segment.h"
#include "script/languages.h"
#include "script/printable.h"
#include "script/script_check.h"
#include "tools/commands.h"
#include "tools/json_text.h"
#include "tools/signature_lines.h"

namespace {

enum class Walk { List, Verify, Extract };

// list --json: the rows and facts that list prints, kept for one JSON object at the end instead.
struct JsonListing {
  struct Row {
    std::string name;
    std::uint32_t packed;
    std::uint64_t size;
    std::uint64_t time;
  };
  std::vector<Row> rows;
};
JsonListing* json = nullptr;  // set while list --json runs (qorpack has one thread)

// Extraction progress on a terminal: shown only after a few seconds, so short runs print nothing,
// and cleared before the listing's lines go on.
struct ExtractProgress {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown;
  bool visible = false;
};

void ShowExtractProgress(void* context, std::uint32_t done, std::uint32_t total) {
  auto& progress = *static_cast<ExtractProgress*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (now - progress.start < std::chrono::seconds(3) || now - progress.shown < std::chrono::milliseconds(250)) return;
  progress.shown = now;
  progress.visible = true;
  std::fprintf(stderr, "\r\033[Kextracting: %u of %u bytes", done, total);
  std::fflush(stderr);
}

ExtractProgress* extractProgress = nullptr;  // the walk's, while extract runs on a terminal

void ClearExtractProgress(ExtractProgress& progress) {
  if (!progress.visible) return;
  std::fputs("\r\033[K", stderr);
  progress.visible = false;
}

// What list prints as text: not with --json.
bool PrintsText(Walk walk) { return walk != Walk::Verify && json == nullptr; }

// The shortest extraction folder an installer can have: "C:\" and its private folder's name
// ("Qor" and 16 hex digits) with the separator. A name too long even there is refused as the
// installer would refuse it anywhere; how long a temporary directory the longest name still fits is
// shown as a note.
constexpr std::size_t kShortestFolder = 3 + 19 + 1;

int Fail(const std::string& reason) {
  std::fprintf(stderr, "qorpack: %s\n", reason.c_str());
  return 1;
}

// verify's verdict on a package the installer would refuse: its error code and reason.
int Refuse(const Failure& failure) {
  return Fail("the installer refuses this package: error code " + std::to_string(failure.code) + ": " +
              EscapeControls(failure.reason));
}

// "2024-05-01 12:00:00 UTC" for a Windows file time.
std::string FormatFileTime(std::uint64_t fileTime) {
  constexpr std::int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
  const std::time_t seconds =
      static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / 10000000) - kUnixEpochSeconds);
  std::tm parts = {};
  char text[40];
  if (gmtime_r(&seconds, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
    return "(time out of range)";
  }
  return text;
}

// Why a package is refused before its pieces are read: "the checksum does not match" (list says
// "checksum does not match" on a line of its own), or a damaged certificate-table entry.
std::string DescribeRefusal(const PackageExtent& extent, Walk walk) {
  if (extent.seal == PackageSeal::StrayEntry) {
    return "the certificate-table entry does not end at the end of the file: the package is damaged";
  }
  return walk == Walk::List ? "checksum does not match" : "the checksum does not match";
}

// Whether the package is signed and how large its certificate table is. Only verify (`checked`)
// checks the signatures' digests; nothing here judges their trust.
std::string DescribeSignature(const PackageExtent& extent, bool checked) {
  const PeSigningFields& table = extent.fields;
  // Also for a package that fails its checksum: list still tells how it was signed.
  if (extent.signedLayout) {
    return "signature: signed, a certificate table of " + std::to_string(table.tableSize) + " bytes at offset " +
           std::to_string(table.tableOffset) + " after " + std::to_string(table.tableOffset - extent.packageEnd) +
           " bytes of padding" + (checked ? "" : " (the signature is not checked here)");
  }
  if (extent.hasEntry) {
    // Built from a stub that was signed on its own: its table lies inside the package and signs
    // nothing of what was appended.
    return "signature: not signed; the stub's own certificate table (" + std::to_string(table.tableSize) +
           " bytes at offset " + std::to_string(table.tableOffset) + ") signs only the stub";
  }
  return "signature: not signed";
}

// A piece's destination: a file (extract), or only a count (list, verify), plus the script's text.
struct Sink {
  platform::File* file;
  std::string* text;
  std::uint64_t bytes;
  std::uint32_t textLimit;
  bool overLimit;
  platform::Status written;  // why the last write failed
};

bool Store(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto* sink = static_cast<Sink*>(context);
  sink->bytes += size;
  if (sink->text != nullptr) {
    if (size > sink->textLimit - sink->text->size()) {
      sink->overLimit = true;
      return false;
    }
    sink->text->append(reinterpret_cast<const char*>(data), size);
  }
  if (sink->file == nullptr) return true;
  sink->written = platform::WriteFile(*sink->file, data, size);
  return static_cast<bool>(sink->written);
}

// Decodes the next segment into `sink` (and into the file at `path` when extracting, or into a
// scratch file for the version check, with its stored time); prints its line unless verifying. The
// failure carries the installer's code for the same fault.
Failure ReadPiece(PackageFileReader& input, Walk walk, const std::string& name, const std::string& path,
                  std::string* text) {
  PackageReader& reader = input.reader();
  platform::File file;
  if (!path.empty()) {
    if (!platform::PathFits(path)) return ::Fail(kFatalTempFile, path + ": path longer than 259 characters");
    // Exactly the stored name, never an existing name that differs only in case, and no link followed.
    if (const platform::Status created = platform::CreateFileExact(path.c_str(), false, file); !created) {
      return ::Fail(kFatalFile, "cannot create " + SystemReason(path, created));
    }
  }
  Sink sink = {path.empty() ? nullptr : &file, text, 0, kMaxScriptSize, false, platform::Status()};
  const std::uint32_t start = reader.Position();
  std::uint64_t fileTime = 0;
  std::uint32_t decoderResult = 0;
  const PackageFault fault = reader.DecodeSegment(Store, &sink, fileTime, decoderResult);
  if (sink.overLimit) {
    return ::Fail(kFatalScript, name + " is larger than " + std::to_string(kMaxScriptSize) + " bytes");
  }
  if (fault != PackageFault::None) {
    std::string reason = name + " at offset " + std::to_string(start) + ": " + DescribePackageFault(fault);
    if (decoderResult != 0) reason += " (decoder result " + std::to_string(decoderResult) + ")";
    if (fault == PackageFault::ReadFailed) reason += ": " + platform::ErrorText(input.status());
    if (fault == PackageFault::WriteFailed) reason += ": " + SystemReason(path, sink.written);
    const int code = fault == PackageFault::ReadFailed || fault == PackageFault::WriteFailed ? kFatalFile : kFatalCodec;
    return ::Fail(code, reason);
  }
  if (file.IsOpen()) {
    // A time the file system cannot hold (or holds only cut to its range) is reported; the file
    // itself is what was packed.
    std::uint64_t kept = 0;
    if (!platform::SetFileTimes(file, fileTime) || !platform::GetLastWriteTime(file, kept) || kept != fileTime) {
      std::fprintf(stderr, "qorpack: note: %s keeps another time than the stored %s\n", EscapeControls(path).c_str(),
                   FormatFileTime(fileTime).c_str());
    }
  }
  const std::uint32_t packed = reader.Position() - start - kMarkerSize - kFileTimeSize;
  if (json != nullptr && walk == Walk::List) json->rows.push_back({name, packed, sink.bytes, fileTime});
  if (PrintsText(walk)) {
    if (extractProgress != nullptr) ClearExtractProgress(*extractProgress);
    std::printf("%-24s %12u %12llu  %s\n", EscapeControls(name).c_str(), packed,
                static_cast<unsigned long long>(sink.bytes), FormatFileTime(fileTime).c_str());
  }
  return Failure();
}

// Creates DIR and the folders above it that are missing, as written.
platform::Status MakeDirectories(const std::string& directory) {
  for (std::size_t at = directory.find('/', 1); at != std::string::npos; at = directory.find('/', at + 1)) {
    if (const platform::Status made = platform::MakeDirectory(directory.substr(0, at).c_str()); !made) return made;
  }
  return platform::MakeDirectory(directory.c_str());
}

// The installer's check that the first payload file has a version block, on a scratch copy in a
// private folder of the temporary directory that is removed again.
Failure CheckFirstFile(PackageFileReader& reader, const PlannedFile& entry) {
  char temp[platform::kPathCapacity], folder[platform::kPathCapacity];
  platform::Status made = platform::TempDirectory(temp);
  if (!made) return ::Fail(kFatalTempFile, "no scratch folder for the version check: " + platform::ErrorText(made));
  if (!(made = platform::CreatePrivateDirectory(temp, folder))) {
    return ::Fail(kFatalTempFile, "no scratch folder for the version check: " + SystemReason(temp, made));
  }
  const std::string path = std::string(folder) + entry.name;
  Failure failure = ReadPiece(reader, Walk::Verify, entry.name, path, nullptr);
  std::uint32_t versionMS = 0, versionLS = 0;
  if (!failure && platform::ReadFixedFileVersion(path.c_str(), versionMS, versionLS) == platform::VersionBlock::None) {
    failure = ::Fail(kFatalFile, entry.name + " has no version block");
  }
  platform::RemoveFile(path.c_str());
  platform::RemoveFolder(folder);
  return failure;
}

// An open package with everything before its payload read: the checksum's verdict, the stub, and
// the setup script. The commands go on from here with their own plan.
struct OpenPackage {
  platform::File file;
  PackageExtent extent;
  Failure checksum;                          // the installer's verdict on the checksum
  std::uint32_t end = 0;                     // where the pieces end: the checksum word's offset + 4
  std::unique_ptr<PackageFileReader> input;  // reads the pieces from the stub on
  std::uint64_t stubBytes = 0;
  SetupScript script;
  std::vector<SignatureFacts> signatures;    // verify's verdict on each signature
};

// Opens `path`, checks its checksum (a failed read ends here), and reads its stub. Fails (code 3)
// with the message for a file that is no package to read at all.
Failure OpenAndReadStub(const char* path, Walk walk, OpenPackage& package, ExtractProgress* progress) {
  // A plain file only: a device or a pipe is no package, whatever its first bytes.
  if (const platform::Status opened = platform::OpenRegularFile(path, package.file); !opened) {
    return ::Fail(kFatalFile, "cannot open " + SystemReason(path, opened));
  }
  std::uint32_t length = 0;
  // A file of 4 GiB or more goes on to the installer's own check, which refuses it for its size.
  const platform::Status sized = platform::SeekEnd(package.file, length);
  if (!sized && sized.error() != platform::kErrorTooLarge) {
    return ::Fail(kFatalFile, "cannot read " + SystemReason(path, sized));
  }
  if (sized && length < 4) return ::Fail(kFatalFile, "not a package: shorter than 4 bytes");
  // verify judges the signatures of a signed package as the installer does; list and extract do not.
  package.checksum = walk == Walk::Verify
                         ? VerifyPackageAndSignatures(package.file, package.extent, package.signatures)
                         : VerifyPackage(package.file, package.extent);
  if (package.checksum.code == kFatalFile) return package.checksum;
  // A package too large to be one has nothing to list or extract either; verify refuses it (the
  // installer's code 2, see JudgePackage).
  if (package.extent.seal == PackageSeal::TooLarge) return package.checksum;
  // Where the pieces end; a refused package whose table would leave no checksum word is read whole.
  package.end = package.extent.packageEnd >= 4 ? package.extent.packageEnd : length;
  package.input = std::make_unique<PackageFileReader>(package.file, 0, package.end - 4,
                                                      progress != nullptr ? ShowExtractProgress : nullptr, progress);
  Sink stub = {nullptr, nullptr, 0, 0, false, platform::Status()};
  const PackageFault fault = package.input->reader().CopyStub(Store, &stub);
  if (fault != PackageFault::None) return ::Fail(kFatalFile, std::string("stub: ") + DescribePackageFault(fault));
  package.stubBytes = stub.bytes;
  if (PrintsText(walk)) {
    std::printf("%-24s %12s %12s  %s\n", "piece", "packed", "size", "stored time");
    std::printf("%-24s %12s %12llu\n", "(stub)", "", static_cast<unsigned long long>(stub.bytes));
  }
  return Failure();
}

// Reads the setup script piece into package.script (and into `path` when extracting).
Failure ReadScript(OpenPackage& package, Walk walk, const std::string& path) {
  std::string text;
  if (Failure failure = ReadPiece(*package.input, walk, kScriptName, path, &text)) return failure;
  package.script = SetupScript(std::move(text));
  return Failure();
}

// The pieces of `files`, in order, into `directory` when extracting (empty otherwise).
Failure ReadPayload(OpenPackage& package, Walk walk, const std::vector<PlannedFile>& files,
                    const std::string& directory) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const PlannedFile& file = files[i];
    Failure failure = walk == Walk::Verify && i == 0
                          ? CheckFirstFile(*package.input, file)
                          : ReadPiece(*package.input, walk, file.name, directory.empty() ? "" : directory + file.name,
                                      nullptr);
    if (failure) return failure;
  }
  return Failure();
}

// The bytes between the last piece and the checksum word, which no installer reads.
std::uint32_t UnreadBytes(const OpenPackage& package) {
  const std::uint32_t rest = package.end - 4 - package.input->reader().Position();
  return rest > 3 ? rest : 0;
}

// What list shows of the command and the languages, beyond the script's own texts.
struct ScriptFacts {
  std::string title;
  std::string command;              // FileName as written
  bool runs = false;                // the installer accepts the script: `started` and `script` hold
  FinishingCommand started;         // the command the installer starts, its folders as placeholders
  std::vector<std::string> languages;  // the sections LANG lists
};

// The command the installer starts for `plan`, with the folders that only the installing machine
// knows as placeholders.
FinishingCommand StartedCommand(const InstallPlan& plan) {
  FinishingCommand started;
  FinishingCommandLine("<extraction folder>\\", "<system folder>", plan.command, started);
  return started;
}

std::string JsonList(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (const std::string& text : texts) out += (out.size() > 1 ? ", " : "") + JsonScriptText(text);
  return out + "]";
}

void PrintJsonListing(const char* path, const OpenPackage& package, const ScriptFacts& facts) {
  const bool isSigned = package.extent.seal == PackageSeal::Signed;
  std::printf("{\"package\": %s, \"checksum\": \"%s\", \"signed\": %s, \"certificateTable\": %u,\n",
              JsonPlatformText(path).c_str(), package.checksum ? "does not match" : "matches", isSigned ? "true" : "false",
              isSigned ? package.extent.fields.tableSize : 0u);
  std::printf(" \"stub\": %llu, \"title\": %s, \"finishingCommand\": %s, \"unreadBytes\": %u,\n",
              static_cast<unsigned long long>(package.stubBytes), JsonScriptText(facts.title).c_str(),
              JsonScriptText(facts.command).c_str(), UnreadBytes(package));
  std::printf(" \"runs\": %s, \"commandScript\": %s, \"languages\": %s,\n \"pieces\": [",
              facts.runs ? JsonScriptText(facts.started.commandLine).c_str() : "null",
              facts.runs && !facts.started.script.empty() ? JsonScriptText(facts.started.script).c_str() : "null",
              JsonList(facts.languages).c_str());
  for (std::size_t i = 0; i < json->rows.size(); ++i) {
    const JsonListing::Row& row = json->rows[i];
    std::printf("%s\n  {\"name\": %s, \"packed\": %u, \"size\": %llu, \"time\": %s}", i == 0 ? "" : ",",
                JsonScriptText(row.name).c_str(), row.packed, static_cast<unsigned long long>(row.size),
                JsonTime(row.time).c_str());
  }
  std::printf("]}\n");
}

void PrintUnread(const OpenPackage& package) {
  if (const std::uint32_t rest = UnreadBytes(package)) {
    std::printf("note: %u bytes after the last piece are not read by the installer\n", rest);
  }
}

int ListPackage(const char* path) {
  OpenPackage package;
  if (Failure failure = OpenAndReadStub(path, Walk::List, package, nullptr)) return Fail(failure.reason);
  // The installer refuses such a package before reading it; list still shows what is there.
  if (package.checksum && PrintsText(Walk::List)) std::printf("%s\n", DescribeRefusal(package.extent, Walk::List).c_str());
  if (Failure failure = ReadScript(package, Walk::List, "")) return Fail(EscapeControls(failure.reason));
  // A script the installer refuses is still listed, as far as its files can be named.
  InstallPlan plan;
  const Failure verdict = CheckSetupScript(package.script, plan, kShortestFolder);
  if (verdict) {
    if (Failure failure = CheckPayloadList(package.script, plan.files)) {
      return Fail("the script is refused: " + EscapeControls(failure.reason));
    }
  }
  if (Failure failure = ReadPayload(package, Walk::List, plan.files, "")) return Fail(EscapeControls(failure.reason));
  ScriptFacts facts;
  facts.title = package.script.Text("Cmd", "Title");
  // A refused script has no plan to tell its command: it is shown as written, for the reader to see
  // what the note below refuses, and nothing is said of how it would start.
  facts.command = verdict ? package.script.Text("Cmd", "FileName") : plan.command.text;
  facts.runs = !verdict;
  if (facts.runs) facts.started = StartedCommand(plan);
  // The sections as LANG lists them, also when the check refuses the list.
  std::string lang;
  if (package.script.Read("Cmd", "LANG", lang) == ScriptValue::Present) facts.languages = SplitLanguageList(lang);
  if (json != nullptr) {
    PrintJsonListing(path, package, facts);
    return 0;
  }
  std::printf("title: %s\nfinishing command: %s\n", EscapeControls(facts.title).c_str(),
              EscapeControls(facts.command).c_str());
  if (facts.runs) {
    std::printf("runs: %s\n", EscapeControls(facts.started.commandLine).c_str());
    if (!facts.started.script.empty()) {
      std::printf("with %s=%s\n", kCommandScriptVariable, EscapeControls(facts.started.script).c_str());
    }
  }
  if (!facts.languages.empty()) {
    std::string names;
    for (const std::string& name : facts.languages) names += (names.empty() ? "" : ", ") + name;
    std::printf("languages: %s\n", EscapeControls(names).c_str());
  }
  if (verdict) std::printf("note: the installer refuses this script: %s\n", EscapeControls(verdict.reason).c_str());
  std::printf("%s\n", DescribeSignature(package.extent, false).c_str());
  PrintUnread(package);
  return 0;
}

// verify's judgement of a package, which it then prints as text or as one JSON object.
struct VerifyOutcome {
  enum class Verdict { Sound, Refused, Failed };
  Verdict verdict = Verdict::Failed;
  // Refused: the installer's error code and reason; Failed: why the package could not be judged.
  Failure failure;
  std::size_t files = 0;
  std::size_t longestName = 0;
  std::size_t longestFolder = 0;  // the longest temporary directory that the names fit
};

VerifyOutcome JudgePackage(const char* path, OpenPackage& package) {
  using Verdict = VerifyOutcome::Verdict;
  if (Failure failure = OpenAndReadStub(path, Walk::Verify, package, nullptr)) {
    // Too large to be a package is the installer's refusal, not a file that cannot be read.
    return {package.extent.seal == PackageSeal::TooLarge ? Verdict::Refused : Verdict::Failed, failure};
  }
  if (package.checksum) return {Verdict::Refused, package.checksum};
  if (Failure failure = ReadScript(package, Walk::Verify, "")) return {Verdict::Refused, failure};
  // The installer's own judgement, before any payload is read: what it refuses is refused here.
  InstallPlan plan;
  if (Failure failure = CheckSetupScript(package.script, plan, kShortestFolder)) return {Verdict::Refused, failure};
  if (Failure failure = ReadPayload(package, Walk::Verify, plan.files, "")) {
    // Without a scratch folder this machine cannot check the first file: that is no verdict on the
    // package.
    return {failure.code == kFatalTempFile ? Verdict::Failed : Verdict::Refused, failure};
  }
  return {Verdict::Sound, Failure(), plan.files.size(), plan.longestName, LongestTemporaryDirectory(plan)};
}

// The one-line message of a package that is not sound, on standard error; the exit status, 1.
int ReportUnsound(const VerifyOutcome& outcome) {
  return outcome.verdict == VerifyOutcome::Verdict::Refused ? Refuse(outcome.failure)
                                                            : Fail(EscapeControls(outcome.failure.reason));
}

void PrintVerifyText(const char* path, const OpenPackage& package, const VerifyOutcome& outcome) {
  std::printf("%s: checksum matches, the script and %zu files decode\n", path, outcome.files);
  std::printf("note: the longest name (%zu characters) fits a temporary directory of up to %zu characters\n",
              outcome.longestName, outcome.longestFolder);
  std::printf("%s\n", DescribeSignature(package.extent, true).c_str());
  PrintSignatureFacts(package.signatures);
  PrintUnread(package);
}

void PrintVerifyJson(const char* path, const OpenPackage& package, const VerifyOutcome& outcome) {
  using Verdict = VerifyOutcome::Verdict;
  const bool sound = outcome.verdict == Verdict::Sound;
  const char* verdict = sound ? "sound" : outcome.verdict == Verdict::Refused ? "refused" : "failed";
  const std::string code = sound ? "0" : outcome.verdict == Verdict::Refused ? std::to_string(outcome.failure.code) : "null";
  const bool isSigned = package.extent.seal == PackageSeal::Signed;
  std::printf("{\"package\": %s, \"verdict\": \"%s\", \"code\": %s, \"reason\": %s,\n",
              JsonPlatformText(path).c_str(), verdict, code.c_str(),
              sound ? "null" : JsonPlatformText(outcome.failure.reason).c_str());
  std::printf(" \"files\": %s, \"unreadBytes\": %s, \"signed\": %s, \"certificateTable\": %u,\n",
              sound ? std::to_string(outcome.files).c_str() : "null",
              sound ? std::to_string(UnreadBytes(package)).c_str() : "null", isSigned ? "true" : "false",
              isSigned ? package.extent.fields.tableSize : 0u);
  std::printf(" \"signatures\": %s}\n", SignatureFactsJson(package.signatures).c_str());
}

int VerifyPackage(const char* path, bool asJson) {
  OpenPackage package;
  const VerifyOutcome outcome = JudgePackage(path, package);
  if (asJson) {
    PrintVerifyJson(path, package, outcome);
  } else if (outcome.verdict == VerifyOutcome::Verdict::Sound) {
    PrintVerifyText(path, package, outcome);
  } else if (package.checksum && outcome.verdict == VerifyOutcome::Verdict::Refused) {
    PrintSignatureFacts(package.signatures);
  }
  return outcome.verdict == VerifyOutcome::Verdict::Sound ? 0 : ReportUnsound(outcome);
}

int ExtractPackage(const char* path, const char* target) {
  std::string directory = target;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  ExtractProgress progress;
  const bool showProgress = isatty(STDERR_FILENO) == 1;
  OpenPackage package;
  // Whatever ends the extraction, the terminal's line is left clean.
  if (showProgress) extractProgress = &progress;
  struct Clear {
    ExtractProgress& progress;
    ~Clear() {
      ClearExtractProgress(progress);
      extractProgress = nullptr;
    }
  } clear{progress};
  if (Failure failure = OpenAndReadStub(path, Walk::Extract, package, showProgress ? &progress : nullptr)) {
    return Fail(failure.reason);
  }
  if (package.checksum) return Fail(DescribeRefusal(package.extent, Walk::Extract));
  if (const platform::Status made = MakeDirectories(directory); !made) return Fail("cannot create " + SystemReason(directory, made));
  directory += "/";
  if (Failure failure = ReadScript(package, Walk::Extract, directory + kScriptName)) {
    return Fail(EscapeControls(failure.reason));
  }
  std::vector<PlannedFile> files;
  if (Failure failure = CheckPayloadList(package.script, files)) {
    return Fail("the script is refused: " + EscapeControls(failure.reason));
  }
  if (Failure failure = ReadPayload(package, Walk::Extract, files, directory)) return Fail(EscapeControls(failure.reason));
  PrintUnread(package);
  return 0;
}

// The usage line of a command, when its arguments do not fit; 2 for the exit status.
int Usage(const char* line) {
  std::fprintf(stderr, "usage: qorpack %s\n", line);
  return 2;
}

}  // namespace

int CommandList(int argc, char** argv) {
  if (argc >= 1 && std::strcmp(argv[0], "--json") == 0) {
    if (argc != 2) return Usage("list [--json] PKG");
    JsonListing listing;
    json = &listing;
    const int status = ListPackage(argv[1]);
    json = nullptr;
    return status;
  }
  return argc == 1 ? ListPackage(argv[0]) : Usage("list [--json] PKG");
}
int CommandVerify(int argc, char** argv) {
  const bool asJson = argc >= 1 && std::strcmp(argv[0], "--json") == 0;
  if (argc != (asJson ? 2 : 1)) return Usage("verify [--json] PKG");
  return VerifyPackage(argv[asJson ? 1 : 0], asJson);
}
int CommandExtract(int argc, char** argv) { return argc == 2 ? ExtractPackage(argv[0], argv[1]) : Usage("extract PKG DIR"); }
