// qorpack list, verify and extract: read a package with the installer's own reader, payload list,
// script bound and validity check, so that verify refuses what the installer refuses, for the same
// reason and with the same error code. Package texts are shown with their control characters escaped.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "installer/segment.h"
#include "script/payload_list.h"
#include "script/printable.h"
#include "script/script_check.h"
#include "tools/commands.h"
#include "tools/signature_lines.h"

namespace {

enum class Walk { List, Verify, Extract };

// list --json: the rows and facts that list prints, kept for one JSON object at the end instead.
struct JsonListing {
  struct Row {
    std::string name;
    std::uint32_t packed;
    std::uint64_t size;
    std::string time;
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

// A JSON string of script bytes: quotes, backslashes and control characters escaped, and the bytes
// above 127 (the script's own code page, which JSON cannot name) as \u00XX of their value.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char kScriptName[] = "SetupQor.ini";

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
  return sink->file == nullptr || platform::WriteFile(*sink->file, data, size);
}

// Decodes the next segment into `sink` (and into the file at `path` when extracting, or into a
// scratch file for the version check, with its stored time); prints its line unless verifying. The
// failure carries the installer's code for the same fault.
Failure ReadPiece(PackageReader& reader, Walk walk, const std::string& name, const std::string& path,
                  std::string* text) {
  platform::File file;
  if (!path.empty()) {
    if (!platform::PathFits(path)) return ::Fail(kFatalTempFile, path + ": path longer than 259 characters");
    // Exactly the stored name, never an existing name that differs only in case, and no link followed.
    if (!platform::CreateFileExact(path.c_str(), false, file)) return ::Fail(kFatalFile, "cannot create " + path);
  }
  Sink sink = {path.empty() ? nullptr : &file, text, 0, kMaxScriptSize, false};
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
  if (json != nullptr && walk == Walk::List) json->rows.push_back({name, packed, sink.bytes, FormatFileTime(fileTime)});
  if (PrintsText(walk)) {
    if (extractProgress != nullptr) ClearExtractProgress(*extractProgress);
    std::printf("%-24s %12u %12llu  %s\n", EscapeControls(name).c_str(), packed,
                static_cast<unsigned long long>(sink.bytes), FormatFileTime(fileTime).c_str());
  }
  return Failure();
}

// Creates DIR and the folders above it that are missing, as written.
bool MakeDirectories(const std::string& directory) {
  for (std::size_t at = directory.find('/', 1); at != std::string::npos; at = directory.find('/', at + 1)) {
    if (!platform::MakeDirectory(directory.substr(0, at).c_str())) return false;
  }
  return platform::MakeDirectory(directory.c_str());
}

// The installer's check that the first payload file has a version block, on a scratch copy in a
// private folder of the temporary directory that is removed again.
Failure CheckFirstFile(PackageReader& reader, const PayloadEntry& entry) {
  char temp[platform::kPathCapacity], folder[platform::kPathCapacity];
  if (!platform::TempDirectory(temp) || !platform::CreatePrivateDirectory(temp, folder)) {
    return ::Fail(kFatalTempFile, "no scratch folder for the version check");
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

int WalkPackage(int argc, char** argv, Walk walk) {
  const int wanted = walk == Walk::Extract ? 2 : 1;
  if (argc != wanted) {
    std::fprintf(stderr, "usage: qorpack %s\n", walk == Walk::Extract ? "extract PKG DIR"
                                               : walk == Walk::Verify ? "verify PKG" : "list [--json] PKG");
    return 2;
  }
  platform::File package;
  if (!platform::OpenFile(argv[0], platform::OpenMode::ReadShared, package)) {
    return Fail(std::string("cannot open ") + argv[0]);
  }
  std::uint32_t length = 0;
  if (!platform::SeekEnd(package, length) || length < 4) return Fail("not a package: shorter than 4 bytes");
  PackageExtent extent;
  // verify judges the signatures of a signed package as the installer does; list and extract do not.
  std::vector<SignatureFacts> signatures;
  const Failure checksum = walk == Walk::Verify ? VerifyPackageAndSignatures(package, extent, signatures)
                                                : VerifyPackage(package, extent);
  if (walk == Walk::Verify && checksum) PrintSignatureFacts(signatures);
  if (checksum.code == kFatalFile) return Fail(checksum.reason);
  if (checksum) {
    // The installer refuses such a package before reading it; list still shows what is there.
    if (walk == Walk::Verify) return Refuse(checksum);
    if (walk != Walk::List) return Fail(DescribeRefusal(extent, walk));
    if (PrintsText(walk)) std::printf("%s\n", DescribeRefusal(extent, walk).c_str());
  }
  // Where the pieces end; a refused package whose table would leave no checksum word is read whole.
  const std::uint32_t end = extent.packageEnd >= 4 ? extent.packageEnd : length;

  std::string directory;
  if (walk == Walk::Extract) {
    directory = argv[1];
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    if (!MakeDirectories(directory)) return Fail("cannot create " + directory);
    directory += "/";
  }
  // The walker's own failures: verify gives the installer's verdict, the others the reason alone.
  const auto stop = [walk](const Failure& failure) {
    return walk == Walk::Verify ? Refuse(failure) : Fail(EscapeControls(failure.reason));
  };

  ExtractProgress progress;
  const bool showProgress = walk == Walk::Extract && isatty(STDERR_FILENO) == 1;
  PackageFileReader file(package, 0, end - 4, showProgress ? ShowExtractProgress : nullptr, &progress);
  // Whatever ends the walk, the terminal's line is left clean.
  if (showProgress) extractProgress = &progress;
  struct Clear {
    ExtractProgress& progress;
    ~Clear() {
      ClearExtractProgress(progress);
      extractProgress = nullptr;
    }
  } clear{progress};
  PackageReader& reader = file.reader();
  Sink stub = {nullptr, nullptr, 0, 0, false};
  const PackageFault stubFault = reader.CopyStub(Store, &stub);
  if (stubFault != PackageFault::None) return Fail(std::string("stub: ") + DescribePackageFault(stubFault));
  if (PrintsText(walk)) {
    std::printf("%-24s %12s %12s  %s\n", "piece", "packed", "size", "stored time");
    std::printf("%-24s %12s %12llu\n", "(stub)", "", static_cast<unsigned long long>(stub.bytes));
  }

  std::string text;
  const std::string scriptPath = walk == Walk::Extract ? directory + kScriptName : std::string();
  if (Failure failure = ReadPiece(reader, walk, kScriptName, scriptPath, &text)) return stop(failure);
  const SetupScript script(std::move(text));
  // The installer's own judgement, before any payload is read: what it refuses is refused here.
  if (walk == Walk::Verify) {
    if (Failure failure = CheckSetupScript(script, kShortestFolder)) return Refuse(failure);
  }
  const std::vector<PayloadEntry> entries = ReadPayloadList(script);
  for (const PayloadEntry& entry : entries) {
    if (entry.problem != EntryProblem::None) {
      return Fail("the script is refused: " + EscapeControls(DescribeEntryProblem(entry)));
    }
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PayloadEntry& entry = entries[i];
    Failure failure = walk == Walk::Verify && i == 0 ? CheckFirstFile(reader, entry)
                                                    : ReadPiece(reader, walk, entry.name,
                                                                walk == Walk::Extract ? directory + entry.name : "",
                                                                nullptr);
    if (failure) return stop(failure);
  }

  const std::uint32_t rest = end - 4 - reader.Position();
  if (walk == Walk::Verify) {
    std::printf("%s: checksum matches, the script and %zu files decode\n", argv[0], entries.size());
    std::size_t longest = 0;
    for (const PayloadEntry& entry : entries) longest = entry.name.size() > longest ? entry.name.size() : longest;
    std::printf("note: the longest name (%zu characters) fits a temporary directory of up to %zu characters\n",
                longest, static_cast<std::size_t>(kMaxValueLength) - 20 - longest);
  } else if (walk == Walk::List) {
    std::string title, command;
    if (script.Read("Cmd", "Title", title) == ScriptValue::Missing) title = "@";
    if (script.Read("Cmd", "FileName", command) == ScriptValue::Missing) command = "@";
    if (json != nullptr) {
      std::printf("{\"package\": %s, \"checksum\": \"%s\", \"signed\": %s, \"certificateTable\": %u,\n",
                  JsonString(argv[0]).c_str(), checksum ? "does not match" : "matches",
                  extent.seal == PackageSeal::Signed ? "true" : "false",
                  extent.seal == PackageSeal::Signed ? extent.fields.tableSize : 0u);
      std::printf(" \"stub\": %llu, \"title\": %s, \"finishingCommand\": %s, \"unreadBytes\": %u,\n \"pieces\": [",
                  static_cast<unsigned long long>(stub.bytes), JsonString(title).c_str(), JsonString(command).c_str(),
                  rest > 3 ? rest : 0u);
      for (std::size_t i = 0; i < json->rows.size(); ++i) {
        const JsonListing::Row& row = json->rows[i];
        std::printf("%s\n  {\"name\": %s, \"packed\": %u, \"size\": %llu, \"time\": %s}", i == 0 ? "" : ",",
                    JsonString(row.name).c_str(), row.packed, static_cast<unsigned long long>(row.size),
                    JsonString(row.time).c_str());
      }
      std::printf("]}\n");
      return 0;
    }
    std::printf("title: %s\nfinishing command: %s\n", EscapeControls(title).c_str(), EscapeControls(command).c_str());
  }
  if (walk != Walk::Extract) std::printf("%s\n", DescribeSignature(extent, walk == Walk::Verify).c_str());
  if (walk == Walk::Verify) PrintSignatureFacts(signatures);
  if (rest > 3) std::printf("note: %u bytes after the last piece are not read by the installer\n", rest);
  return 0;
}

}  // namespace

int CommandList(int argc, char** argv) {
  if (argc >= 1 && std::strcmp(argv[0], "--json") == 0) {
    JsonListing listing;
    json = &listing;
    const int status = WalkPackage(argc - 1, argv + 1, Walk::List);
    json = nullptr;
    return status;
  }
  return WalkPackage(argc, argv, Walk::List);
}
int CommandVerify(int argc, char** argv) { return WalkPackage(argc, argv, Walk::Verify); }
int CommandExtract(int argc, char** argv) { return WalkPackage(argc, argv, Walk::Extract); }
