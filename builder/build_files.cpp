// Kinds and identities of the files a build touches.
#include "builder/build_files.h"

#include <cstring>

#include "builder/build_log.h"
#include "builder/packing_list.h"
#include "script/payload_list.h"

namespace {

// The last step of a path: what follows its last separator or its drive.
std::string LastStep(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) return path.substr(slash + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(2);
  return path;
}

// The folder a path lies in, as a path that names it ("." for the current folder).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + ".";
  return ".";
}

bool Identify(const std::string& path, platform::FileIdentity& identity) {
  return KindOfPath(path.c_str()) == platform::FileKind::Regular && platform::IdentifyFile(path.c_str(), identity);
}

// True when `a` and `b` are one file: the same identity when it exists, or the same name in the same
// folder when neither exists yet (two outputs of one name would overwrite each other).
bool SameFile(const std::string& a, const std::string& b) {
  platform::FileIdentity ia, ib;
  const bool hasA = Identify(a, ia), hasB = Identify(b, ib);
  if (hasA || hasB) return hasA && hasB && ia == ib;
  platform::FileIdentity fa, fb;
  return SameFileName(LastStep(a), LastStep(b)) && platform::IdentifyFile(FolderOf(a).c_str(), fa) &&
         platform::IdentifyFile(FolderOf(b).c_str(), fb) && fa == fb;
}

// The input that `path` is, or null.
const BuildInput* InputAt(const std::string& path, const std::vector<BuildInput>& inputs) {
  platform::FileIdentity written;
  if (!Identify(path, written)) return nullptr;
  for (const BuildInput& input : inputs) {
    platform::FileIdentity read;
    if (Identify(input.path, read) && read == written) return &input;
  }
  return nullptr;
}

const char kOverlap[] = "Refused: %s. A build never writes over the files it reads.\r\n";

void AddSource(std::vector<BuildInput>& inputs, const std::string& value, const std::string& role) {
  const char* source = EntrySourcePath(value.c_str());
  if (source != nullptr) inputs.push_back(BuildInput{platform::FromScriptText(source), role});
}

}  // namespace

platform::FileKind KindOfPath(const char* path) {
  if (std::strpbrk(path, "*?<>\"|") != nullptr) return platform::FileKind::Missing;
  if ((path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') && path[2] == '.' &&
      (path[3] == '\\' || path[3] == '/')) {
    return platform::FileKind::Other;
  }
  const std::string last = LastStep(path);
  if (!last.empty() && IsDeviceName(last)) return platform::FileKind::Other;
  return platform::KindOfFile(path);
}

std::vector<BuildInput> NamedInputs(const char* listPath, const SetupScript& list, const char* stubOverride) {
  std::vector<BuildInput> inputs;
  inputs.push_back(BuildInput{listPath, "the packing list"});
  std::string value;
  if (stubOverride != nullptr) {
    inputs.push_back(BuildInput{stubOverride, "the Installer file (--stub)"});
  } else if (list.Read("In", "QorFileName", value) == ScriptValue::Present) {
    inputs.push_back(BuildInput{platform::FromScriptText(value), "the Installer file (QorFileName)"});
  }
  if (list.Read("Out", "VersionFile", value) == ScriptValue::Present && !value.empty()) {
    AddSource(inputs, value, "the version file (VersionFile)");
  }
  for (int k = 1; k <= kLastPayloadEntry; ++k) {
    const std::string key = PayloadKey(k);
    const ScriptValue found = list.Read("Files", key.c_str(), value);
    if (found == ScriptValue::Missing) break;
    if (found == ScriptValue::Present) AddSource(inputs, value, "the source of " + key);
  }
  return inputs;
}

Failure CheckWrittenFiles(const std::vector<BuildInput>& inputs, const char* outputPath) {
  const std::string output(outputPath);
  const platform::FileKind kind = KindOfPath(outputPath);
  if (kind == platform::FileKind::Folder || kind == platform::FileKind::Other) {
    return NotAFile(kFatalFile, "The output " + output, kind);
  }
  // Windows moves nothing over a read-only file; natively it would be replaced. Both refuse it.
  if (kind == platform::FileKind::Regular && platform::IsReadOnly(outputPath)) {
    return BuildFailure(kFatalFile, "The output file %s is read-only. Clear that or choose another OutputName.\r\n",
                        outputPath);
  }
  if (const BuildInput* input = InputAt(output, inputs)) {
    return BuildFailure(kFatalFile, kOverlap,
                        ("the output file " + output + " is " + input->role + ", " + input->path).c_str());
  }
  if (const BuildInput* input = InputAt(kBuildLogName, inputs)) {
    return BuildFailure(kFatalFile, kOverlap,
                        (std::string("the build log ") + kBuildLogName + " is " + input->role + ", " + input->path).c_str());
  }
  if (SameFile(output, kBuildLogName)) {
    return BuildFailure(kFatalFile, "Refused: the output file %s is the build log. Choose another OutputName.\r\n",
                        outputPath);
  }
  return Failure();
}

bool MayWriteLog(const char* logPath, const std::vector<BuildInput>& inputs, const char* outputPath) {
  switch (KindOfPath(logPath)) {
    case platform::FileKind::Missing: break;
    case platform::FileKind::Regular:
      if (InputAt(logPath, inputs) != nullptr) return false;
      break;
    case platform::FileKind::Folder:
    case platform::FileKind::Other: return false;
  }
  return outputPath == nullptr || !SameFile(logPath, outputPath);
}

Failure NotAFile(int code, const std::string& what, platform::FileKind kind) {
  const char* format = kind == platform::FileKind::Folder
                           ? "%s is a folder, not a file. Check the packing list.\r\n"
                           : "%s is a device or a pipe, not a file. Check the packing list.\r\n";
  return BuildFailure(code, format, what.c_str());
}
