// Installer: start-up (own file, checksum, stub, setup script, rights), the silent path or the
// page, completion with the clean-up or the restart question, and the one place that reports a
// failure.
#include "installer/installer.h"

#include <cstdio>

#include "installer/dialog.h"
#include "installer/payload.h"
#include "installer/privileges.h"
#include "installer/segment.h"
#include "script/script_check.h"

namespace {

const char kStubName[] = "temp.exe";
constexpr std::int32_t kRestartNeeded = 3010;

// The decoded script is held in memory: a bound keeps a crafted package from taking all of it.
constexpr std::uint32_t kMaxScriptSize = 0x7FFFFFFFu;

// Opens and verifies the own file, then writes the stub image (and deletes it again) and the setup
// script into the temporary directory and reads the script from the bytes it decoded; leaves the
// session's position at the first payload piece.
Failure StartUp(InstallSession& session) {
  // The system's own answer, not a parse of the command line: an unquoted path with a dot in an
  // argument or a folder name would otherwise name another file.
  char ownPath[platform::kPathCapacity];
  if (!platform::GetOwnPath(ownPath)) return Fail(kFatalFile, "the program's own path is unknown");
  if (!platform::OpenFile(ownPath, platform::OpenMode::ReadShared, session.package)) {
    return Fail(kFatalFile, "the package cannot be opened");
  }
  // A signed package ends before the signer's padding and certificate table.
  PackageExtent extent;
  if (Failure failure = VerifyPackage(session.package, extent)) return failure;
  session.payloadEnd = extent.packageEnd - kChecksumSize;
  session.position = 0;

  // Without the temporary directory the files would land in the current directory.
  char directory[platform::kPathCapacity];
  if (!platform::TempDirectory(directory)) {
    return Fail(kFatalTempFile, "the temporary directory cannot be determined");
  }
  session.directory = directory;
  const std::string stubPath = session.directory + kStubName;
  const std::string scriptPath = session.directory + kScriptName;
  if (stubPath.size() >= platform::kPathCapacity || scriptPath.size() >= platform::kPathCapacity) {
    return Fail(kFatalTempFile, "the temporary directory's path is too long");
  }
  session.scriptPath = scriptPath;

  PackageFileReader reader(session.package, session.position, session.payloadEnd);
  platform::File stub;
  if (!platform::OpenFile(stubPath.c_str(), platform::OpenMode::CreateAlways, stub)) {
    return Fail(kFatalTempFile, "cannot create temp.exe");
  }
  if (Failure failure = ExtractSegment(reader, stub, kStubMode, stubPath)) return failure;
  RemoveFileWithRetry(stubPath.c_str());

  platform::File scriptFile;
  if (!platform::OpenFile(scriptPath.c_str(), platform::OpenMode::CreateAlways, scriptFile)) {
    return Fail(kFatalTempFile, "cannot create the setup script");
  }
  std::string text;
  if (Failure failure = ExtractSegmentToMemory(reader, scriptFile, text, kMaxScriptSize, scriptPath)) {
    return failure;
  }
  session.script = SetupScript(std::move(text));
  session.position = session.payloadStart = reader.reader().Position();
  return Failure();
}

std::int32_t SilentInstall(InstallSession& session) {
  if (Failure failure = ExtractPayload(session)) return ReportFatal(failure, session.script, session.scriptPath, true);
  std::uint32_t status = 0;
  if (Failure failure = RunFinishingCommand(session, status)) {
    return ReportFatal(failure, session.script, session.scriptPath, true);
  }
  if (status == 0 || status == kRestartNeeded) {
    RemoveExtractedFiles(session);
    return static_cast<std::int32_t>(status);
  }
  // The files stay, so that whoever runs the install can look at what the command left.
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
  const std::string question = session.script.Text(language.c_str(), "Msg12");
  const std::string caption = session.script.Text("Cmd", "Title", "<No title>");
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
  const std::string text = script.Text(language.c_str(), key);
  if (text.empty() || text[0] != '@') {
    const std::string caption = script.Text("Cmd", "Title");
    platform::ShowMessageBox(text.c_str(), caption.c_str(), platform::kMbSetForeground | platform::kMbIconWarning);
  } else {
    // No script, no language section or no text for the code: still tell the user something.
    const std::string caption = "Error Code: " + std::to_string(failure.code) + " (" + scriptPath + ")\n";
    platform::ShowMessageBox("Unable to find SetupQor.ini file.  Exiting.", caption.c_str(), platform::kMbOk);
  }
  return -1;
}

void RestartSequence(const InstallSession& session) {
  if (IsNtFamily()) EnableShutdownPrivilege();
  RemoveExtractedFiles(session);
  RequestRestart();
}

std::int32_t Installer(std::int32_t silent, void* instance) {
  InstallSession session;
  session.silent = silent == 1;
  if (Failure failure = StartUp(session)) return ReportFatal(failure, session.script, session.scriptPath, session.silent);
  // The 9x family has no tokens, so the check fails there for everybody: only NT refuses.
  if (IsAdministrator() == 0 && IsNtFamily()) {
    return ReportFatal(Fail(kFatalNotAdmin, "administrator rights are needed"), session.script, session.scriptPath,
                       session.silent);
  }
  // Everything the installer will need from the script is judged before the first payload byte.
  if (Failure failure = CheckSetupScript(session.script, session.directory.size())) {
    // A refused script leaves nothing behind: the script file is all this run has written.
    RemoveFileWithRetry(session.scriptPath.c_str());
    return ReportFatal(failure, session.script, session.scriptPath, session.silent);
  }
  return session.silent ? SilentInstall(session) : PageInstall(session, instance);
}
