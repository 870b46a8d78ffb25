// ExtractPayload, RunFinishingCommand and RemoveExtractedFiles: the payload's way into the run's
// private extraction folder, the finishing command (started only from the file this run wrote), and
// the way out again.
#include "installer/payload.h"

#include <vector>

#include "installer/segment.h"

namespace {

// `directory` + the script's `name`, as platform text. The plan's check has measured every name
// against the folder, so the path fits.
std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory + platform::FromScriptText(name);
}

}  // namespace

void LogStep(const InstallSession& session, const char* label, const std::string& text) {
  if (session.log != nullptr) session.log->Step(label, text);
}

void NoteTime(const InstallSession& session, const std::string& name, const std::string& timeNote) {
  if (!timeNote.empty()) LogStep(session, "note", name + " keeps the time of its extraction: " + timeNote);
}

Failure AwaitSignatures(InstallSession& session) {
  const Failure verdict = session.signatures.Finish();
  if (!session.signaturesRecorded) {
    session.signaturesRecorded = true;
    for (const SignatureFacts& fact : session.signatures.facts()) {
      LogStep(session, fact.depth > 0 ? "nested signature" : "signature", DescribeSignatureFacts(fact));
    }
  }
  return verdict;
}

Failure ExtractPayload(InstallSession& session, const InstallProgress* progress) {
  const std::vector<PlannedFile>& files = session.plan.files;
  {
    PackageFileReader reader(session.package, session.position, session.payloadEnd,
                             progress != nullptr ? progress->extracted : nullptr,
                             progress != nullptr ? progress->context : nullptr);
    for (const PlannedFile& file : files) {
      // The folder is the one this run created: held open since, it cannot have been replaced.
      const std::string path = JoinPath(session.directory, file.name);
      platform::File output;
      // Created exclusively: a file that another process planted in the folder is never written
      // into, taken for ours or deleted by the clean-up.
      if (const platform::Status created = platform::CreateFileExact(path.c_str(), true, output); !created) {
        return Fail(kFatalFile, "cannot create " + SystemReason(path, created));
      }
      if (Failure failure = RecordCreated(session, path, output)) return failure;
      const std::uint32_t segmentStart = reader.reader().Position();
      std::string timeNote;
      if (Failure failure = ExtractSegment(reader, output, kSegmentMode, path, &timeNote)) return failure;
      session.extracted.push_back({file.name, path, segmentStart});
      LogStep(session, "extracted", platform::FromScriptText(file.name));
      NoteTime(session, platform::FromScriptText(file.name), timeNote);
    }
    session.position = reader.reader().Position();
  }
  // Nothing extracted is looked into before the package is known to be the one that was signed.
  if (Failure failure = AwaitSignatures(session)) return failure;

  // The first file is the product's main file: one without a version block means a broken package.
  const std::string& first = session.extracted.front().path;
  std::uint32_t versionMS = 0, versionLS = 0;
  if (platform::ReadFixedFileVersion(first.c_str(), versionMS, versionLS) == platform::VersionBlock::None) {
    return Fail(kFatalFile, first + " has no version block");
  }
  // The package stays open: the finishing command's program is compared with it before it starts.
  return Failure();
}

bool FinishingCommandLine(const std::string& directory, const std::string& systemDirectory,
                          const PlannedCommand& command, FinishingCommand& finishing) {
  const std::string path = JoinPath(directory, command.program);
  if (!platform::PathFits(path)) return false;
  const std::string arguments = platform::FromScriptText(command.arguments);
  finishing.script.clear();
  // Every path is quoted, so that a temporary directory with blanks ("C:\Documents and
  // Settings\...") can never be read as a shorter path ("C:\Documents.exe").
  switch (command.kind) {
    case ProgramKind::Executable:
      finishing.program = path;
      finishing.commandLine = "\"" + path + "\"" + arguments;
      break;
    case ProgramKind::InstallerPackage:
      // An installer package is no program: msiexec.exe installs it (/i); the package's own
      // arguments (/qn, properties) follow for msiexec.exe to read.
      finishing.program = systemDirectory + "\\msiexec.exe";
      finishing.commandLine = "\"" + finishing.program + "\" /i \"" + path + "\"" + arguments;
      break;
    case ProgramKind::CommandScript:
      // cmd.exe's own rules: /d leaves out the AutoRun commands that the registry may name; /v:off
      // keeps "!" plain whatever the registry says of delayed expansion; /s makes /c drop the first
      // and the last quote of the line and keep the rest as it is, so the quotes around the script's
      // path and those in its arguments stay. The path itself comes from a variable: cmd expands
      // %NAME% in the line, so a "%" in the temporary directory's path (which the user's environment
      // decides) could expand into anything, even into a second command; the variable's value is
      // expanded once, inside its quotes, and never read again.
      finishing.program = systemDirectory + "\\cmd.exe";
      finishing.script = path;
      finishing.commandLine = "\"" + finishing.program + "\" /d /v:off /s /c \"\"%" + kCommandScriptVariable + "%\"" +
                              arguments + "\"";
      break;
  }
  return platform::PathFits(finishing.program);
}

Failure JudgeCommandStatus(std::uint32_t status) {
  if (status == 0 || status == kStatusRestartNeeded || status == kStatusRestartStarted) return Failure();
  return Fail(kFatalCommand,
              "the finishing command ended with status " + std::to_string(static_cast<std::int32_t>(status)));
}

namespace {

// True when `locked` holds exactly what the package's segment at `segmentStart` decodes to.
bool SameAsPackaged(InstallSession& session, std::uint32_t segmentStart, platform::File& locked) {
  PackageFileReader reader(session.package, segmentStart, session.payloadEnd);
  return SegmentMatchesFile(reader, locked);
}

}  // namespace

Failure RunFinishingCommand(InstallSession& session, std::uint32_t& status, const InstallProgress* progress) {
  const PlannedCommand& command = session.plan.command;
  const ExtractedFile& extracted = session.extracted[command.file];
  const std::string program = platform::FromScriptText(command.program);
  // msiexec.exe and cmd.exe come from the system folder, whatever PATH or COMSPEC say.
  char systemDirectory[platform::kPathCapacity] = {};
  if (command.kind != ProgramKind::Executable) {
    if (const platform::Status found = platform::SystemDirectory(systemDirectory); !found) {
      return Fail(kFatalCommand, "the finishing command cannot be started: the system folder is unknown: " +
                                     platform::ErrorText(found));
    }
  }
  FinishingCommand finishing;
  if (!FinishingCommandLine(session.directory, systemDirectory, command, finishing)) {
    return Fail(kFatalTempFile, "the finishing command's program path does not fit 259 characters");
  }

  // The file that runs must be the file this run extracted. Between its extraction and this point
  // it lay closed in the folder, where another process of the same user could have changed or
  // replaced it. That window is closed here: the file is opened under the very path the command
  // line names, with a sharing that keeps every other writer, deleter and renamer out from now on
  // (an open one makes this open fail), and then compared byte for byte with its segment, decoded
  // again from the package. A change made in the window shows as a difference and stops the
  // install; a change after it cannot be made while the lock lasts. A program keeps it until it has
  // started (starting it only reads it, and then Windows keeps a running program's file from
  // writers itself); an installer package or a command script keeps it until the command has
  // ended, since msiexec.exe opens the package after it has started and cmd.exe reads a script line
  // by line as it runs it (both read with a sharing this lock allows). The path keeps naming this
  // file: the run holds its folder open without delete sharing from its creation on, so the folder
  // cannot be renamed and replaced by another one or a junction.
  // What lies beside the program is no part of the comparison: the DLLs a program loads from its
  // own folder. Where the run is elevated or runs as SYSTEM, the folder's access list and its High
  // label keep the user's unelevated processes from adding or changing any file in it, from the
  // folder's creation to its removal, so there is no moment in which a DLL could be planted; a run
  // that is not elevated has nothing to keep from processes that hold its own rights.
  platform::File locked;
  if (const platform::Status opened = platform::OpenLockedForReading(extracted.path.c_str(), locked); !opened) {
    return Fail(kFatalFile, program + " cannot be locked: another process holds it open (" +
                                SystemReason(extracted.path, opened) + ")");
  }
  if (!SameAsPackaged(session, extracted.segmentStart, locked)) {
    return Fail(kFatalFile, program + " was changed by another process after it was extracted");
  }
  if (!finishing.script.empty()) {
    if (const platform::Status set = platform::SetEnvironmentValue(kCommandScriptVariable, finishing.script.c_str());
        !set) {
      return Fail(kFatalCommand, "the finishing command cannot be started: " + SystemReason(finishing.script, set));
    }
    LogStep(session, kCommandScriptVariable, finishing.script);
  }
  LogStep(session, "command", finishing.commandLine);
  platform::Process process;
  const platform::Status started =
      platform::StartProcess(finishing.program.c_str(), finishing.commandLine.c_str(), process);
  if (command.kind == ProgramKind::Executable) locked.Close();
  session.package.Close();
  if (!started) {
    LogStep(session, "command", "cannot be started");
    return Fail(kFatalCommand, "the finishing command cannot be started: " + SystemReason(finishing.program, started));
  }
  // Waiting on the process itself, a second at a time: an exit status of 259 ends the wait like
  // any other, where asking for the status alone would take it for a running program.
  while (!platform::WaitForProcess(process, 1000, status)) {
    if (progress != nullptr && progress->waiting != nullptr) progress->waiting(progress->context);
  }
  locked.Close();
  LogStep(session, "command exit status", std::to_string(static_cast<std::int32_t>(status)));
  return Failure();
}

Failure RecordCreated(InstallSession& session, const std::string& path, platform::File& file) {
  platform::FileIdentity identity;
  if (const platform::Status known = platform::IdentifyEntry(session.folderIdentity, file, identity); !known) {
    return Fail(kFatalFile, "cannot identify " + SystemReason(path, known));
  }
  session.created.push_back({path, identity});
  return Failure();
}

bool RemoveFileWithRetry(InstallSession& session, const CreatedFile& file) {
  // A program that has just ended can keep its file busy for a moment (under Wine for 30 to 70 ms;
  // virus scanners do the same on Windows): one attempt would leave the file behind. A file that is
  // gone, or that another process put in its place, is not tried again.
  // Every file a run creates lies in its extraction folder, by its bare name.
  const std::string name = file.path.substr(session.directory.size());
  for (int attempt = 0; attempt < 20; ++attempt) {
    const platform::Status removed =
        platform::RemoveEntryIfSame(session.folder, session.folderIdentity, name.c_str(), file.identity);
    if (removed || removed.error() == platform::kErrorLink || !platform::FileExists(file.path.c_str())) return true;
    platform::Sleep(50);
  }
  return false;
}

void ReleaseLiveMark(InstallSession& session) {
  if (!session.liveMark.IsOpen()) return;
  session.liveMark.Close();
  RemoveFileWithRetry(session, {session.directory + kLiveMarkName, session.liveMarkIdentity});
}

void RemoveExtractedFiles(InstallSession& session) {
  // Only what this run created, newest first, then its mark and the folder itself: a file someone
  // else put there keeps the folder (and itself) in place.
  for (auto file = session.created.rbegin(); file != session.created.rend(); ++file) RemoveFileWithRetry(session, *file);
  session.created.clear();
  ReleaseLiveMark(session);
  if (session.directory.empty() || !session.folder.IsOpen()) return;
  // The held handle has to go first: it shares no deleting, so while it is open even this process
  // cannot open the folder to delete it (and it has no delete access of its own, see
  // CreatePrivateDirectory). The instant between is safe: the removal opens the name itself (a link
  // or junction there is not followed), compares it with the folder this run created and deletes
  // through that same handle, so only this run's folder, and only while it is empty, can go. Had
  // another process moved the folder away in that instant (on Windows only one that could change it
  // anyway: the user's unelevated processes may not delete or rename it), what it put at the name
  // stays, and so does the empty folder where it was moved.
  session.folder.Close();
  const std::string folder = session.directory.substr(0, session.directory.size() - 1);
  for (int attempt = 0; attempt < 20; ++attempt) {
    const platform::Status removed = platform::RemoveFileIfSame(folder.c_str(), session.folderIdentity);
    if (removed) {
      LogStep(session, "removed", session.directory);
      return;
    }
    if (removed.error() == platform::kErrorLink) break;
    platform::Sleep(50);
  }
  LogStep(session, "left", session.directory);
}
