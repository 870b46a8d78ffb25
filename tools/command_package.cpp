// qorpack list, verify and extract: read a package with the installer's own reader and payload list,
// so a package that passes here reads the same way when it installs.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "installer/segment.h"
#include "script/payload_list.h"
#include "script/script_check.h"
#include "tools/commands.h"

namespace {

enum class Walk { List, Verify, Extract };

const char kScriptName[] = "SetupQor.ini";

// The decoded script is held in memory, as the installer holds it.
constexpr std::uint32_t kMaxScriptSize = 0x7FFFFFFFu;

int Fail(const std::string& reason) {
  std::fprintf(stderr, "qorpack: %s\n", reason.c_str());
  return 1;
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

// Whether the package is signed and how large its certificate table is. The signature's trust and
// digest are not checked: a signing tool or Windows does that.
std::string DescribeSignature(const PackageExtent& extent) {
  const PeSigningFields& table = extent.fields;
  // Also for a package that fails its checksum: list still tells how it was signed.
  if (extent.signedLayout) {
    return "signature: signed, a certificate table of " + std::to_string(table.tableSize) + " bytes at offset " +
           std::to_string(table.tableOffset) + " after " + std::to_string(table.tableOffset - extent.packageEnd) +
           " bytes of padding (the signature is not checked here)";
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
};

bool Store(void* context, const std::uint8_t* data, std::uint32_t size) {
  auto* sink = static_cast<Sink*>(context);
  sink->bytes += size;
  if (sink->text != nullptr) {
    if (size > sink->textLimit - sink->text->size()) return false;
    sink->text->append(reinterpret_cast<const char*>(data), size);
  }
  return sink->file == nullptr || platform::WriteFile(*sink->file, data, size);
}

// Decodes the next segment into `sink` (and into the file at `path` when extracting, with its
// stored time); prints its line; false with a message on any fault.
bool ReadPiece(PackageReader& reader, Walk walk, const std::string& name, const std::string& path,
               std::string* text) {
  platform::File file;
  if (walk == Walk::Extract) {
    if (path.size() >= platform::kPathCapacity) return Fail(path + ": path longer than 259 characters") == 0;
    if (!platform::OpenFile(path.c_str(), platform::OpenMode::CreateAlways, file)) {
      return Fail("cannot create " + path) == 0;
    }
  }
  Sink sink = {walk == Walk::Extract ? &file : nullptr, text, 0, kMaxScriptSize};
  const std::uint32_t start = reader.Position();
  std::uint64_t fileTime = 0;
  std::uint32_t decoderResult = 0;
  const PackageFault fault = reader.DecodeSegment(Store, &sink, fileTime, decoderResult);
  if (fault != PackageFault::None) {
    std::string reason = name + " at offset " + std::to_string(start) + ": " + DescribePackageFault(fault);
    if (decoderResult != 0) reason += " (decoder result " + std::to_string(decoderResult) + ")";
    return Fail(reason) == 0;
  }
  if (walk == Walk::Extract && !platform::SetFileTimes(file, fileTime)) {
    return Fail("cannot set the time of " + path) == 0;
  }
  const std::uint32_t packed = reader.Position() - start - kMarkerSize - kFileTimeSize;
  if (walk != Walk::Verify) {
    std::printf("%-24s %12u %12llu  %s\n", name.c_str(), packed,
                static_cast<unsigned long long>(sink.bytes), FormatFileTime(fileTime).c_str());
  }
  return true;
}

int WalkPackage(int argc, char** argv, Walk walk) {
  const int wanted = walk == Walk::Extract ? 2 : 1;
  if (argc != wanted) {
    return Fail(walk == Walk::Extract ? "usage: qorpack extract PKG DIR" : "usage: qorpack list|verify PKG");
  }
  platform::File package;
  if (!platform::OpenFile(argv[0], platform::OpenMode::ReadShared, package)) {
    return Fail(std::string("cannot open ") + argv[0]);
  }
  std::uint32_t length = 0;
  if (!platform::SeekEnd(package, length) || length < 4) return Fail("not a package: shorter than 4 bytes");
  PackageExtent extent;
  const Failure checksum = VerifyPackage(package, extent);
  if (checksum.code == kFatalFile) return Fail(checksum.reason);
  if (checksum) {
    // The installer refuses such a package before reading it; list still shows what is there.
    if (walk != Walk::List) return Fail(DescribeRefusal(extent, walk));
    std::printf("%s\n", DescribeRefusal(extent, walk).c_str());
  }
  // Where the pieces end; a refused package whose table would leave no checksum word is read whole.
  const std::uint32_t end = extent.packageEnd >= 4 ? extent.packageEnd : length;

  PackageFileReader file(package, 0, end - 4);
  PackageReader& reader = file.reader();
  Sink stub = {nullptr, nullptr, 0, 0};
  const PackageFault stubFault = reader.CopyStub(Store, &stub);
  if (stubFault != PackageFault::None) return Fail(std::string("stub: ") + DescribePackageFault(stubFault));
  if (walk != Walk::Verify) {
    std::printf("%-24s %12s %12s  %s\n", "piece", "packed", "size", "stored time");
    std::printf("%-24s %12s %12llu\n", "(stub)", "", static_cast<unsigned long long>(stub.bytes));
  }

  const std::string directory = walk == Walk::Extract ? std::string(argv[1]) + "/" : std::string();
  std::string text;
  if (!ReadPiece(reader, walk, kScriptName, directory + kScriptName, &text)) return 1;
  const SetupScript script(std::move(text));
  // The installer's own judgement, before any payload is read: what it refuses is refused here.
  if (walk != Walk::List) {
    if (Failure failure = CheckSetupScript(script)) return Fail("the script is refused: " + failure.reason);
  }
  const std::vector<PayloadEntry> entries = ReadPayloadList(script);
  for (const PayloadEntry& entry : entries) {
    if (entry.problem != EntryProblem::None) return Fail("the script is refused: " + DescribeEntryProblem(entry));
  }
  for (const PayloadEntry& entry : entries) {
    if (!ReadPiece(reader, walk, entry.name, directory + entry.name, nullptr)) return 1;
  }

  const std::uint32_t rest = end - 4 - reader.Position();
  if (walk == Walk::Verify) {
    std::printf("%s: checksum matches, the script and %zu files decode\n", argv[0], entries.size());
  } else if (walk == Walk::List) {
    std::string title, command;
    if (script.Read("Cmd", "Title", title) == ScriptValue::Missing) title = "@";
    if (script.Read("Cmd", "FileName", command) == ScriptValue::Missing) command = "@";
    std::printf("title: %s\nfinishing command: %s\n", title.c_str(), command.c_str());
  }
  if (walk != Walk::Extract) std::printf("%s\n", DescribeSignature(extent).c_str());
  if (rest > 3) std::printf("note: %u bytes after the last piece are not read by the installer\n", rest);
  return 0;
}

}  // namespace

int CommandList(int argc, char** argv) { return WalkPackage(argc, argv, Walk::List); }
int CommandVerify(int argc, char** argv) { return WalkPackage(argc, argv, Walk::Verify); }
int CommandExtract(int argc, char** argv) { return WalkPackage(argc, argv, Walk::Extract); }
