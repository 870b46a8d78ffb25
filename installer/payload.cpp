// ExtractPayload, RunFinishingCommand and RemoveExtractedFiles: the payload's way into the temporary
// directory, the finishing command, and the way out again.
#include "installer/payload.h"

#include <cstdio>
#include <cstring>

#include "app/fatal.h"
#include "app/process_state.h"
#include "app/script.h"
#include "installer/payload_list.h"
#include "package/segment.h"

namespace {

[[noreturn]] void Fail(int code, const std::string& reason, const char* scriptPath) {
  std::snprintf(lastMessage, sizeof lastMessage, "%s", reason.c_str());
  ReportFatal(code, scriptPath);
}

// The temporary directory, or code 8: without it every name would land in the current directory.
void RequireTempDirectory(char (&directory)[platform::kPathCapacity], const char* scriptPath) {
  if (!platform::TempDirectory(directory)) {
    Fail(kFatalTempFile, "the temporary directory cannot be determined", scriptPath);
  }
}

// `directory` + `name` into `path`; false when it does not fit 259 characters.
bool JoinPath(const char* directory, const std::string& name, char (&path)[platform::kPathCapacity]) {
  const std::size_t length = std::strlen(directory);
  if (length + name.size() >= platform::kPathCapacity) return false;
  std::memcpy(path, directory, length);
  std::memcpy(path + length, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace

std::int32_t ExtractPayload(const char* scriptPath, platform::File& package, std::uint32_t& position,
                            std::uint32_t chunk, const InstallProgress* progress) {
  // Every entry is checked before the first file is written, so a bad list leaves nothing behind.
  const std::vector<PayloadEntry> entries = ReadPayloadList(scriptPath);
  for (const PayloadEntry& entry : entries) {
    if (entry.problem != EntryProblem::None) Fail(kFatalScript, DescribeEntryProblem(entry), scriptPath);
  }
  char directory[platform::kPathCapacity];
  RequireTempDirectory(directory, scriptPath);
  std::vector<std::string> paths;
  for (const PayloadEntry& entry : entries) {
    char path[platform::kPathCapacity];
    if (!JoinPath(directory, entry.name, path)) {
      Fail(kFatalTempFile, "the path of " + entry.name + " is longer than 259 characters", scriptPath);
    }
    paths.emplace_back(path);
  }

  {
    PackageFileReader reader(package, chunk, position,
                             progress != nullptr ? progress->extracted : nullptr);
    for (const std::string& path : paths) {
      platform::File output;
      if (!platform::OpenFile(path.c_str(), platform::OpenMode::CreateAlways, output)) {
        Fail(kFatalFile, "cannot create " + path, scriptPath);
      }
      ExtractSegment(reader, output, position, kSegmentMode, scriptPath);
    }
  }

  if (entries.empty()) Fail(kFatalScript, "the script lists no File01", scriptPath);
  // The first file is the product's main file: one without a version block means a broken package.
  std::uint32_t versionMS = 0, versionLS = 0;
  if (platform::ReadFixedFileVersion(paths.front().c_str(), versionMS, versionLS) ==
      platform::VersionBlock::None) {
    Fail(kFatalFile, paths.front() + " has no version block", scriptPath);
  }
  ScriptText outputName;
  if (ReadScriptValue("Out", "OutputName", "@", outputName, scriptPath) == ScriptValue::Missing) {
    Fail(kFatalScript, "the script has no OutputName", scriptPath);
  }
  package.Close();
  return 0;
}

bool FinishingCommandLine(const char* directory, const char* fileName, std::string& commandLine) {
  // The program name ends at the first blank, or at its closing quote; the rest, blank included,
  // is the arguments.
  std::string program;
  const char* arguments;
  if (fileName[0] == '"') {
    const char* close = std::strchr(fileName + 1, '"');
    if (close == nullptr) return false;
    program.assign(fileName + 1, close);
    arguments = close + 1;
  } else {
    arguments = fileName + std::strcspn(fileName, " \t");
    program.assign(fileName, arguments);
  }
  if (program.empty()) return false;
  char path[platform::kPathCapacity];
  if (!JoinPath(directory, program, path)) return false;
  // Quoted, so that a temporary directory with blanks ("C:\Documents and Settings\...") can never
  // be read as a shorter program path ("C:\Documents.exe").
  commandLine = std::string("\"") + path + "\"" + arguments;
  return true;
}

std::uint32_t RunFinishingCommand(const char* scriptPath, const InstallProgress* progress) {
  ScriptText fileName;
  const ScriptValue found = ReadScriptValue("Cmd", "FileName", "@", fileName, scriptPath);
  if (found == ScriptValue::Missing) Fail(kFatalScript, "the script has no FileName", scriptPath);
  if (found == ScriptValue::TooLong) Fail(kFatalScript, "FileName is longer than 259 characters", scriptPath);
  char directory[platform::kPathCapacity];
  RequireTempDirectory(directory, scriptPath);
  std::string commandLine;
  if (!FinishingCommandLine(directory, fileName, commandLine)) {
    Fail(kFatalTempFile, "the finishing command's program path does not fit 259 characters",
         scriptPath);
  }

  platform::Process process;
  if (!platform::StartProcess(commandLine.c_str(), process)) return kCommandNotStarted;
  // Waiting on the process itself, a second at a time: an exit status of 259 ends the wait like
  // any other, where asking for the status alone would take it for a running program.
  std::uint32_t status = 0;
  while (!platform::WaitForProcess(process, 1000, status)) {
    if (progress != nullptr && progress->waiting != nullptr) progress->waiting();
  }
  return status;
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

void RemoveExtractedFiles(const char* scriptPath) {
  char directory[platform::kPathCapacity];
  if (!platform::TempDirectory(directory)) return;
  for (const PayloadEntry& entry : ReadPayloadList(scriptPath)) {
    char path[platform::kPathCapacity];
    if (entry.problem != EntryProblem::None || !JoinPath(directory, entry.name, path)) continue;
    RemoveFileWithRetry(path);
  }
  // The script is the only list of what was extracted: it goes last.
  RemoveFileWithRetry(scriptPath);
}
