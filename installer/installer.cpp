// Installer: start-up (own file, checksum and signatures, stub, setup script, rights), the silent
// path or the page, completion with the clean-up or the restart question, and the one place that
// reports a failure.
#include "installer/installer.h"

#include <cstdio>

#include "installer/dialog.h"
#include "installer/install_log.h"
#include "installer/payload.h"
#include "installer/privileges.h"
#include "installer/segment.h"
#include "installer/signature_check.h"
#include "script/script_check.h"

namespace {

const char kStubName[] = "temp.exe";
constexpr std::int32_t kRestartNeeded = 3010;

void LogStep(const InstallSession& session, const char* label, const std::string& text) {
  if (session.log != nullptr) session.log->Step(label, text);
}

// Opens and verifies the own file (its checksum, and its signatures when it is signed), creates the
// run's private extraction folder, then writes the stub image (and deletes it again) and the setup
// script there and reads the script from the bytes it decoded; leaves the session's position at the
// first payload piece.
Failure StartUp(InstallSession& session) {
  // The system's own answer, not a parse of the command line: an unquoted path with a dot in an
  // argument or a folder name would otherwise name another file.
  char ownPath[platform::kPathCapacity];
  if (!platform::GetOwnPath(ownPath)) return Fail(kFatalFile, "the program's own path is unknown");
  session.packagePath = ownPath;
  LogStep(session, "package", session.packagePath);
  if (!platform::OpenFile(ownPath, platform::OpenMode::ReadShared, session.package)) {
    return Fail(kFatalFile, "the package cannot be opened");
  }
  // A signed package ends before the signer's padding and certificate table.
  PackageExtent extent;
  if (Failure failure = VerifyOwnPackage(session, extent)) return failure;
  session.payloadEnd = extent.packageEnd - kChecksumSize;
  session.position = 0;

  // Without the temporary directory the files would land in the current directory.
  char temp[platform::kPathCapacity];
  if (!platform::TempDirectory(temp)) {
    return Fail(kFatalTempFile, "the temporary directory cannot be determined");
  }
  // A folder of this run's own, under a name nobody can guess and that nobody had before: another
  // package running at the same time, or another user of a shared temporary directory, can neither
  // plant files in it beforehand nor delete what this run extracts.
  char directory[platform::kPathCapacity];
  if (!platform::CreatePrivateDirectory(temp, directory)) {
    return Fail(kFatalTempFile, std::string("the extraction folder cannot be created in ") + temp);
  }
  session.directory = directory;
  LogStep(session, "extraction folder", session.directory);
  const std::string stubPath = session.directory + kStubName;
  const std::string scriptPath = session.directory + kScriptName;
  if (!platform::PathFits(stubPath) || !platform::PathFits(scriptPath)) {
    return Fail(kFatalTempFile, "the temporary directory's path is too long");
  }
  session.scriptPath = scriptPath;

  PackageFileReader reader(session.package, session.position, session.payloadEnd);
  platform::File stub;
  if (!platform::CreateFileExact(stubPath.c_str(), true, stub)) {
    return Fail(kFatalTempFile, "cannot create temp.exe");
  }
  session.created.push_back(stubPath);
  if (Failure failure = ExtractSegment(reader, stub, kStubMode, stubPath)) return failure;
  if (RemoveFileWithRetry(stubPath.c_str())) session.created.pop_back();

  platform::File scriptFile;
  if (!platform::CreateFileExact(scriptPath.c_str(), true, scriptFile)) {
    return Fail(kFatalTempFile, "cannot create the setup script");
  }
  session.created.push_back(scriptPath);
  // Bounded while it decodes: a larger script is refused before more than the bound is held.
  std::string text;
  if (Failure failure = ExtractSegmentToMemory(reader, scriptFile, text, kMaxScriptSize, kScriptName)) {
    return failure;
  }
  LogStep(session, "extracted", kScriptName);
  session.script = SetupScript(std::move(text));
  session.position = session.payloadStart = reader.reader().Position();
  return Failure();
}

// Everything before the first payload byte: the package, the folder, the script, the rights, and
// the one judgement of the script with the folder's real length.
Failure Prepare(InstallSession& session) {
  if (Failure failure = StartUp(session)) return failure;
  // The 9x family has no tokens, so the check fails there for everybody: only NT refuses.
  if (IsAdministrator() == 0 && IsNtFamily()) return Fail(kFatalNotAdmin, "administrator rights are needed");
  Failure failure = CheckSetupScript(session.script, platform::PathLength(session.directory));
  // Its reason quotes the script's names, in the script's code page.
  failure.reason = platform::FromScriptText(failure.reason);
  return failure;
}

std::int32_t SilentInstall(InstallSession& session, Failure& failure) {
  if ((failure = ExtractPayload(session))) return -1;
  std::uint32_t status = 0;
  if ((failure = RunFinishingCommand(session, status))) return -1;
  if (status == 0 || status == kRestartNeeded) {
    RemoveExtractedFiles(session);
    return static_cast<std::int32_t>(status);
  }
  // The files stay, so that whoever runs the install can look at what the command left.
  failure = Fail(kFatalCommand, status == kCommandNotStarted
                                    ? std::string("the finishing command cannot be started")
                                    : "the finishing command ended with status " +
                                          std::to_string(static_cast<std::int32_t>(status)));
  return -1;
}

std::int32_t PageInstall(InstallSession& session, void* instance) {
  // The page's texts come from the language section that LANG names; a name cut to fit would name
  // another section, as useless as a missing one. Checked before the page opens.
  std::string language;
  if (session.script.Read("Cmd", "LANG", language) != ScriptValue::Present) {
    return ReportFatal(Fail(kFatalScript, "the script has no LANG"), session.script, session.scriptPath, false);
  }
  std::uint32_t status = 0;
  switch (RunInstallerDialog(instance, session, language, status)) {
    case PageEnd::Finished: break;
    // The page has shown its failure over itself already.
    case PageEnd::Failed: return -1;
    // A page that cannot even be shown installed nothing: that is no success. Like a cancel, it
    // ends with -1, deleting nothing and showing nothing (a box would fail the same way).
    case PageEnd::Cancelled:
    case PageEnd::NotShown:
      return ReportFatal(Fail(kFatalCancelled, "the install was cancelled"), session.script, session.scriptPath,
                         false);
  }
  if (status != kRestartNeeded) {
    RemoveExtractedFiles(session);
    return 0;
  }
  const std::string question = platform::FromScriptText(session.script.Text(language.c_str(), "Msg12"));
  const std::string caption = platform::FromScriptText(session.script.Text("Cmd", "Title", "<No title>"));
  const int answer = platform::ShowMessageBox(
      question.c_str(), caption.c_str(), platform::kMbSetForeground | platform::kMbIconQuestion | platform::kMbYesNo);
  if (answer == platform::kIdYes) RestartSequence(session);
  return kRestartNeeded;
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
  std::string language;
  language = script.Read("Cmd", "LANG", language) == ScriptValue::Missing ? "ENU" : script.Text("Cmd", "LANG");
  const std::string text = platform::FromScriptText(script.Text(language.c_str(), key));
  if (text.empty() || text[0] != '@') {
    const std::string caption = platform::FromScriptText(script.Text("Cmd", "Title"));
    platform::ShowMessageBox(text.c_str(), caption.c_str(), platform::kMbSetForeground | platform::kMbIconWarning);
  } else {
    // No script, no language section or no text for the code: still tell the user something.
    const std::string caption = "Error Code: " + std::to_string(failure.code) + " (" + scriptPath + ")\n";
    platform::ShowMessageBox("Unable to find SetupQor.ini file.  Exiting.", caption.c_str(), platform::kMbOk);
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
  if (session.silent && logPath != nullptr && *logPath != '\0') {
    if (!log.Open(logPath)) {
      char ownPath[platform::kPathCapacity];
      AppendFailureLine(platform::GetOwnPath(ownPath) ? ownPath : "?",
                        Fail(kFatalFile, std::string("the log file cannot be created: ") + logPath));
      return -1;
    }
    session.log = &log;
  }
  Failure failure = Prepare(session);
  if (!session.silent) {
    if (failure) return ReportFatal(failure, session.script, session.scriptPath, false);
    return PageInstall(session, instance);
  }
  std::int32_t status = failure ? -1 : SilentInstall(session, failure);
  if (failure) {
    status = ReportFatal(failure, session.script, session.scriptPath, true);
    if (log.IsOpen()) {
      log.Step("failed", "error code " + std::to_string(failure.code) + ": " + failure.reason);
    } else {
      AppendFailureLine(session.packagePath, failure);
    }
    // A folder left with nothing of this run's in it goes; one with files stays for inspection.
    if (!session.directory.empty() && session.created.empty()) {
      platform::RemoveFolder(session.directory.substr(0, session.directory.size() - 1).c_str());
    }
  }
  log.Step("exit status", std::to_string(status));
  return status;
}
