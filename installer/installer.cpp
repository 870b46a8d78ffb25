// Installer: start-up (own file, checksum and signatures, stub, setup script, rights), the silent
// path or the page, completion with the clean-up or the restart question, and the one place that
// reports a failure. The signatures' digest is computed while a silent install's start-up and
// extraction go on; nothing is run or kept before its verdict, and the page waits for it first.
#include "installer/installer.h"

#include <cstdio>
#include <string>
#include <vector>

#include "installer/dialog.h"
#include "installer/install_log.h"
#include "installer/payload.h"
#include "installer/privileges.h"
#include "installer/segment.h"
#include "installer/signature_check.h"
#include "script/languages.h"
#include "script/script_check.h"

namespace {

const char kStubName[] = "temp.exe";

// Opens and verifies the own file; leaves the session's package open and its extent known.
Failure OpenOwnPackage(InstallSession& session) {
  // The system's own answer, not a parse of the command line: an unquoted path with a dot in an
  // argument or a folder name would otherwise name another file.
  char ownPath[platform::kPathCapacity];
  if (const platform::Status found = platform::GetOwnPath(ownPath); !found) {
    return Fail(kFatalFile, "the program's own path is unknown: " + platform::ErrorText(found));
  }
  session.packagePath = ownPath;
  LogStep(session, "package", session.packagePath);
  if (const platform::Status opened = platform::OpenFile(ownPath, platform::OpenMode::ReadShared, session.package);
      !opened) {
    return Fail(kFatalFile, "the package cannot be opened: " + SystemReason(ownPath, opened));
  }
  // The image digest of a signed package is computed on a thread of its own while a silent install
  // extracts: under Wine's system hashes it takes as long as the extraction, and would almost double
  // the install if it came first. The thread reads through a second handle (a handle has one
  // position), opened only when it reaches the very file of the first one; without it the whole check
  // runs here, first. AwaitSignatures has the verdict, which every step that runs, shows or looks
  // into the package's contents waits for, and a failing run too.
  platform::File second;
  platform::FileIdentity own, again;
  if (!platform::OpenFile(ownPath, platform::OpenMode::ReadShared, second) ||
      !platform::IdentifyOpenFile(session.package, own) || !platform::IdentifyOpenFile(second, again) ||
      !(own == again)) {
    second.Close();
  }
  // A signed package ends before the signer's padding and certificate table.
  PackageExtent extent;
  if (Failure failure = session.signatures.Begin(session.package, std::move(second), extent)) return failure;
  // The page keeps the order "check, then unpack": a person waits for it anyway, and its boxes speak
  // of a package that was never unpacked.
  if (!session.silent) {
    if (Failure failure = AwaitSignatures(session)) return failure;
  }
  session.payloadEnd = extent.packageEnd - kChecksumSize;
  session.position = 0;
  return Failure();
}

// True for a folder name this program gives its private folders: "Qor" and 16 hexadecimal digits.
bool IsPrivateFolderName(const std::string& name) {
  return name.size() == 19 && name.compare(0, 3, "Qor") == 0 &&
         name.find_first_not_of("0123456789ABCDEF", 3) == std::string::npos;
}

// Removes the private folders of earlier runs that were killed: only folders of this program's
// naming whose live mark is there and no longer held. A folder without a mark is not known to be
// a leftover (an older version's, or a run that has just created it) and stays.
void RemoveStaleFolders(const char* temp) {
  std::vector<std::string> names;
  if (!platform::ListFolder(temp, names)) return;
  for (const std::string& name : names) {
    if (!IsPrivateFolderName(name)) continue;
    // The temporary directory ends with the platform's separator.
    const std::string folder = std::string(temp) + name + std::string(temp).back();
    const std::string mark = folder + kLiveMarkName;
    // A mark found free stays free: only the run that created it ever held it, and that run has
    // ended. Nothing that the removal could harm can come to stand at the name in between: a live
    // run's folder cannot be moved there (its run holds it open without delete sharing), and
    // RemoveStaleFolder refuses a link or junction.
    if (platform::KindOfFile(mark.c_str()) != platform::FileKind::Regular || platform::IsLiveMarkHeld(mark.c_str())) {
      continue;
    }
    platform::RemoveStaleFolder(folder.c_str());
  }
}

// Creates the run's private extraction folder in the temporary directory.
Failure CreateExtractionFolder(InstallSession& session) {
  // Without the temporary directory the files would land in the current directory.
  char temp[platform::kPathCapacity];
  if (const platform::Status found = platform::TempDirectory(temp); !found) {
    return Fail(kFatalTempFile, "the temporary directory cannot be determined: " + platform::ErrorText(found));
  }
  // A folder of this run's own, under a name nobody can guess and that nobody had before: another
  // package running at the same time, or another user of a shared temporary directory, can neither
  // plant files in it beforehand nor delete what this run extracts.
  // It is created and opened in one step and stays open, unshared for deleting, until the clean-up:
  // from its creation on no other process can rename it and put a folder or junction of its own at
  // its path, so every path below names this folder. Where the process is elevated or runs as
  // SYSTEM, only the Administrators and SYSTEM may change what is in it (the user's unelevated
  // processes may only read), so nothing can be planted beside the files this run writes.
  char directory[platform::kPathCapacity];
  if (const platform::Status created = platform::CreatePrivateDirectory(temp, directory, session.folder); !created) {
    return Fail(kFatalTempFile, "the extraction folder cannot be created in " + SystemReason(temp, created));
  }
  session.directory = directory;
  if (const platform::Status known = platform::IdentifyOpenFile(session.folder, session.folderIdentity); !known) {
    return Fail(kFatalTempFile, "cannot identify the extraction folder " + SystemReason(directory, known));
  }
  LogStep(session, "extraction folder", session.directory);
  // Marked as live before anything else goes in, so that no other run takes it for a leftover; then
  // the leftovers of runs that were killed go.
  const std::string mark = session.directory + kLiveMarkName;
  if (const platform::Status marked = platform::CreateLiveMark(mark.c_str(), session.liveMark); !marked) {
    return Fail(kFatalTempFile, "cannot mark the extraction folder as in use: " + SystemReason(mark, marked));
  }
  platform::IdentifyEntry(session.folderIdentity, session.liveMark, session.liveMarkIdentity);
  RemoveStaleFolders(temp);
  return Failure();
}

// Creates `path` exclusively in the extraction folder for a piece of the start-up; code 8.
Failure CreateStartUpFile(InstallSession& session, const std::string& path, const char* what, platform::File& file) {
  if (const platform::Status created = platform::CreateFileExact(path.c_str(), true, file); !created) {
    return Fail(kFatalTempFile, std::string("cannot create ") + what + ": " + SystemReason(path, created));
  }
  return RecordCreated(session, path, file);
}

// Opens and verifies the own file, creates the run's private extraction folder, then writes the
// stub image (and deletes it again) and the setup script there and reads the script from the bytes
// it decoded; leaves the session's position at the first payload piece.
Failure StartUp(InstallSession& session) {
  if (Failure failure = OpenOwnPackage(session)) return failure;
  if (Failure failure = CreateExtractionFolder(session)) return failure;
  const std::string stubPath = session.directory + kStubName;
  const std::string scriptPath = session.directory + kScriptName;
  if (!platform::PathFits(stubPath) || !platform::PathFits(scriptPath)) {
    return Fail(kFatalTempFile, "the temporary directory's path is too long");
  }
  session.scriptPath = scriptPath;

  PackageFileReader reader(session.package, session.position, session.payloadEnd);
  platform::File stub;
  if (Failure failure = CreateStartUpFile(session, stubPath, kStubName, stub)) return failure;
  if (Failure failure = ExtractSegment(reader, stub, kStubMode, stubPath)) return failure;
  if (RemoveFileWithRetry(session, session.created.back())) session.created.pop_back();

  platform::File scriptFile;
  if (Failure failure = CreateStartUpFile(session, scriptPath, "the setup script", scriptFile)) return failure;
  // Bounded while it decodes: a larger script is refused before more than the bound is held.
  std::string text, timeNote;
  if (Failure failure = ExtractSegmentToMemory(reader, scriptFile, text, kMaxScriptSize, kScriptName, &timeNote)) {
    return failure;
  }
  LogStep(session, "extracted", kScriptName);
  NoteTime(session, kScriptName, timeNote);
  session.script = SetupScript(std::move(text));
  session.position = session.payloadStart = reader.reader().Position();
  return Failure();
}

// Everything before the first payload byte: the package, the folder, the script, the rights, and
// the one judgement of the script with the folder's real length, which leaves the plan.
Failure Prepare(InstallSession& session) {
  if (Failure failure = StartUp(session)) return failure;
  // The 9x family has no tokens, so the check fails there for everybody: only NT refuses.
  if (IsAdministrator() == 0 && IsNtFamily()) return Fail(kFatalNotAdmin, "administrator rights are needed");
  Failure failure = CheckSetupScript(session.script, session.plan, platform::PathLength(session.directory));
  // Its reason quotes the script's names, in the script's code page.
  failure.reason = platform::FromScriptText(failure.reason);
  if (failure) return failure;
  // The section the page, its question and the error boxes speak, the same for all of them.
  session.language = ScriptLanguage(session.script);
  if (session.plan.languages.size() > 1) {
    const std::string& user = session.language.user;
    LogStep(session, "language", platform::FromScriptText(session.language.section) + " (the user's language: " +
                                     (user.empty() ? std::string("unknown") : user) + ")");
  }
  return Failure();
}

std::int32_t SilentInstall(InstallSession& session, Failure& failure) {
  if ((failure = ExtractPayload(session))) return -1;
  std::uint32_t status = 0;
  if ((failure = RunFinishingCommand(session, status))) return -1;
  // On a failing status the files stay, so that whoever runs the install can look at what the
  // command left.
  if ((failure = JudgeCommandStatus(status))) return -1;
  RemoveExtractedFiles(session);
  return static_cast<std::int32_t>(status);
}

// The install from the page. A failure the page has already shown over itself comes back with
// `shown` set.
std::int32_t PageInstall(InstallSession& session, void* instance, Failure& failure, bool& shown) {
  // The page's texts come from the language section that the plan's LANG names.
  std::uint32_t status = 0;
  switch (RunInstallerDialog(instance, session, status, failure)) {
    case PageEnd::Finished: break;
    case PageEnd::Failed:
      shown = true;
      return -1;
    // A page that cannot even be shown installed nothing: that is no success. Like a cancel, it
    // ends with -1, deleting nothing and showing nothing (a box would fail the same way).
    case PageEnd::Cancelled:
      failure = Fail(kFatalCancelled, "the install was cancelled");
      return -1;
    case PageEnd::NotShown:
      failure = Fail(kFatalCancelled, "the installer page cannot be shown");
      return -1;
  }
  // 0, or 1641: msiexec.exe has asked for the restart already, so the page does not ask again.
  if (status != kStatusRestartNeeded) {
    RemoveExtractedFiles(session);
    return static_cast<std::int32_t>(status);
  }
  const std::string question = LanguageText(session.script, session.language, "Msg12");
  const std::string caption = platform::FromScriptText(session.script.Text("Cmd", "Title", "<No title>"));
  const int answer = platform::ShowMessageBox(
      question.c_str(), caption.c_str(), platform::kMbSetForeground | platform::kMbIconQuestion | platform::kMbYesNo);
  if (answer == platform::kIdYes) {
    RestartSequence(session);
  } else {
    // The files stay for whatever the command left to do after the restart; later runs leave them.
    ReleaseLiveMark(session);
  }
  return static_cast<std::int32_t>(kStatusRestartNeeded);
}

// What a failed run leaves: the box (unless the run is silent or the page has shown it), the
// record (the /log FILE, else the line in the temporary directory), and no empty folder.
void RecordFailure(InstallSession& session, const Failure& failure, bool shown) {
  if (!shown) ReportFatal(failure, session.script, session.scriptPath, session.silent);
  // Everything the run created goes first: on a full disk its space is what lets the record be
  // written at all.
  RemoveExtractedFiles(session);
  if (session.log != nullptr) {
    session.log->Step("failed", "error code " + std::to_string(failure.code) + ": " + failure.reason);
  } else {
    AppendFailureLine(session.packagePath, failure);
  }
}

}  // namespace

std::int32_t ReportFatal(const Failure& failure, const SetupScript& script, const std::string& scriptPath,
                         bool silent) {
  if (silent || failure.code == kFatalCancelled) return -1;
  if (failure.decoderResult != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", failure.decoderResult);
    platform::ShowMessageBox(number, "Value of uiRep", platform::kMbOk);
  }
  char key[16];
  std::snprintf(key, sizeof key, "Err%02d", failure.code);
  const std::string text = LanguageText(script, ScriptLanguage(script), key);
  // The script's own text first, as always; the reason under it tells an administrator what the
  // system said.
  const std::string detail = failure.reason.empty() ? std::string() : "\n\n" + failure.reason;
  if (text.empty() || text[0] != '@') {
    const std::string caption = platform::FromScriptText(script.Text("Cmd", "Title"));
    platform::ShowMessageBox((text + detail).c_str(), caption.c_str(),
                             platform::kMbSetForeground | platform::kMbIconWarning);
  } else {
    // No script, no language section or no text for the code: still tell the user something.
    const std::string caption = "Error Code: " + std::to_string(failure.code) + " (" + scriptPath + ")\n";
    platform::ShowMessageBox(("Unable to find SetupQor.ini file.  Exiting." + detail).c_str(), caption.c_str(),
                             platform::kMbOk);
  }
  return -1;
}

void RestartSequence(InstallSession& session) {
  if (IsNtFamily()) EnableShutdownPrivilege();
  RemoveExtractedFiles(session);
  RequestRestart();
}

std::int32_t Installer(std::int32_t silent, void* instance, const char* logPath) {
  InstallSession session;
  session.silent = silent == 1;
  InstallLog log;
  if (logPath != nullptr) {
    const platform::Status opened = *logPath == '\0' ? platform::Status::Error(0) : log.Open(logPath);
    if (!opened) {
      const Failure failure = Fail(kFatalFile, *logPath == '\0' ? std::string("the /log option names no file")
                                                                 : "the log file cannot be created: " +
                                                                       SystemReason(logPath, opened));
      char ownPath[platform::kPathCapacity];
      AppendFailureLine(platform::GetOwnPath(ownPath) ? ownPath : "?", failure);
      return ReportFatal(failure, session.script, session.scriptPath, session.silent);
    }
    session.log = &log;
  }
  Failure failure = Prepare(session);
  bool shown = false;
  std::int32_t status = -1;
  if (!failure) {
    status = session.silent ? SilentInstall(session, failure) : PageInstall(session, instance, failure, shown);
  }
  // Whatever failed while the digest was computed, a package whose signature does not match is
  // refused for that (as it would have been before anything else had happened).
  if (failure) {
    if (Failure verdict = AwaitSignatures(session)) {
      failure = verdict;
      shown = false;
    }
  }
  if (failure) RecordFailure(session, failure, shown);
  log.Step("exit status", std::to_string(status));
  return status;
}
