// ExtractPayload, RunFinishingCommand and RemoveExtractedFiles: the payload's way into the
// extraction folder, the finishing command, and the way out again.
#include "installer/payload.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "installer/segment.h"
#include "script/payload_list.h"

namespace {

// `directory` + `name` into `path`; false when it does not fit 259 characters.
bool JoinPath(const char* directory, const std::string& name, char (&path)[platform::kPathCapacity]) {
  const std::size_t length = std::strlen(directory);
  if (length + name.size() >= platform::kPathCapacity) return false;
  std::memcpy(path, directory, length);
  std::memcpy(path + length, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace

Failure ExtractPayload(InstallSession& session, const InstallProgress* progress) {
  // Every path is formed before the first file is written, so a name that does not fit leaves
  // nothing behind.
  const std::vector<PayloadEntry> entries = ReadPayloadList(session.script);
  std::vector<std::string> paths;
  for (const PayloadEntry& entry : entries) {
    char path[platform::kPathCapacity];
    if (!JoinPath(session.directory.c_str(), entry.name, path)) {
      return Fail(kFatalTempFile, "the path of " + entry.name + " is longer than 259 characters");
    }
    paths.emplace_back(path);
  }
  if (paths.empty()) return Fail(kFatalScript, "the script lists no File01");

  {
    PackageFileReader reader(session.package, session.position, session.payloadEnd,
                             progress != nullptr ? progress->extracted : nullptr,
                             progress != nullptr ? progress->context : nullptr);
    for (const std::string& path : paths) {
      platform::File output;
      if (!platform::OpenFile(path.c_str(), platform::OpenMode::CreateAlways, output)) {
        return Fail(kFatalFile, "cannot create " + path);
      }
      if (Failure failure = ExtractSegment(reader, output, kSegmentMode, path)) return failure;
    }
    session.position = reader.reader().Position();
  }

  // The first file is the product's main file: one without a version block means a broken package.
  std::uint32_t versionMS = 0, versionLS = 0;
  if (platform::ReadFixedFileVersion(paths.front().c_str(), versionMS, versionLS) ==
      platform::VersionBlock::None) {
    return Fail(kFatalFile, paths.front() + " has no version block");
  }
  session.package.Close();
  return Failure();
}

bool FinishingCommandLine(const char* directory, const char* fileName, std::string& commandLine) {
  std::string program, arguments;
  if (!SplitFinishingCommand(fileName, program, arguments)) return false;
  char path[platform::kPathCapacity];
  if (!JoinPath(directory, program, path)) return false;
  // Quoted, so that a temporary directory with blanks ("C:\Documents and Settings\...") can never
  // be read as a shorter program path ("C:\Documents.exe").
  commandLine = std::string("\"") + path + "\"" + arguments;
  return true;
}

Failure RunFinishingCommand(const InstallSession& session, std::uint32_t& status,
                            const InstallProgress* progress) {
  status = kCommandNotStarted;
  std::string fileName;
  switch (session.script.Read("Cmd", "FileName", fileName)) {
    case ScriptValue::Present: break;
    case ScriptValue::Missing: return Fail(kFatalScript, "the script has no FileName");
    case ScriptValue::TooLong: return Fail(kFatalScript, "FileName is longer than 259 characters");
  }
  std::string commandLine;
  if (!FinishingCommandLine(session.directory.c_str(), fileName.c_str(), commandLine)) {
    return Fail(kFatalTempFile, "the finishing command's program path does not fit 259 characters");
  }

  platform::Process process;
  if (!platform::StartProcess(commandLine.c_str(), process)) return Failure();
  // Waiting on the process itself, a second at a time: an exit status of 259 ends the wait like
  // any other, where asking for the status alone would take it for a running program.
  while (!platform::WaitForProcess(process, 1000, status)) {
    if (progress != nullptr && progress->waiting != nullptr) progress->waiting(progress->context);
  }
  return Failure();
}

bool RemoveFileWithRetry(const char* path) {
  // A program that has just ended can keep its file busy for a moment (under Wine for 30 to 70 ms;
  // virus scanners do the same on Windows): one attempt would leave the file behind.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (platform::RemoveFile(path) || !platform::FileExists(path)) return true;
    platform::Sleep(50);
  }
  return false;
}

void RemoveExtractedFiles(const InstallSession& session) {
  for (const PayloadEntry& entry : ReadPayloadList(session.script)) {
    char path[platform::kPathCapacity];
    if (entry.problem != EntryProblem::None || !JoinPath(session.directory.c_str(), entry.name, path)) continue;
    RemoveFileWithRetry(path);
  }
  // The script is the only list of what was extracted: it goes last.
  RemoveFileWithRetry(session.scriptPath.c_str());
}
