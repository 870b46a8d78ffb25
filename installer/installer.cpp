// Installer: start-up (own file, checksum, stub, setup script, rights), the silent path or the
// dialog, and completion with the clean-up or the restart question.
#include "installer/installer.h"

#include <cstdio>
#include <cstring>

#include "app/fatal.h"
#include "app/process_state.h"
#include "app/script.h"
#include "installer/dialog.h"
#include "installer/payload.h"
#include "installer/privileges.h"
#include "package/checksum.h"
#include "package/segment.h"

namespace {

// The name the script has before it is extracted: errors before that point name it bare.
const char kScriptName[] = "SetupQor.ini";
const char kStubName[] = "temp.exe";
constexpr std::int32_t kRestartNeeded = 3010;
constexpr std::intptr_t kDialogCancelled = 6;
constexpr std::intptr_t kDialogFailed = -1;

[[noreturn]] void Fail(int code, const char* reason, const char* script) {
  std::snprintf(lastMessage, sizeof lastMessage, "%s", reason);
  ReportFatal(code, script);
}

bool JoinPath(const char* directory, const char* name, char (&path)[platform::kPathCapacity]) {
  const int written = std::snprintf(path, sizeof path, "%s%s", directory, name);
  return written >= 0 && static_cast<std::size_t>(written) < sizeof path;
}

// Opens and verifies the own file, then writes the stub image (and deletes it again) and the setup
// script into the temporary directory; leaves packagePosition at the first payload segment.
void StartUp() {
  // The system's own answer, not a parse of the command line: an unquoted path with a dot in an
  // argument or a folder name would otherwise name another file.
  char ownPath[platform::kPathCapacity];
  if (!platform::GetOwnPath(ownPath)) Fail(kFatalFile, "the program's own path is unknown", kScriptName);
  if (!platform::OpenFile(ownPath, platform::OpenMode::ReadShared, packageFile)) {
    Fail(kFatalFile, "the package cannot be opened", kScriptName);
  }
  if (PackageChecksum(packageFile, kChecksumVerify, kScriptName) != 1) {
    Fail(kFatalChecksum, "the package checksum does not match", kScriptName);
  }
  std::uint32_t length = 0;
  if (!platform::SeekEnd(packageFile, length) || length < 4) {
    Fail(kFatalFile, "the package cannot be read", kScriptName);
  }
  packageChunkSize = length - 4;
  packagePosition = 0;

  // Without the temporary directory the files would land in the current directory.
  char directory[platform::kPathCapacity];
  if (!platform::TempDirectory(directory)) {
    Fail(kFatalTempFile, "the temporary directory cannot be determined", kScriptName);
  }
  char stubPath[platform::kPathCapacity];
  if (!JoinPath(directory, kScriptName, scriptPath) || !JoinPath(directory, kStubName, stubPath)) {
    Fail(kFatalTempFile, "the temporary directory's path is too long", kScriptName);
  }

  PackageFileReader reader(packageFile, packageChunkSize, packagePosition);
  platform::File stub;
  if (!platform::OpenFile(stubPath, platform::OpenMode::CreateAlways, stub)) {
    Fail(kFatalTempFile, "cannot create temp.exe", scriptPath);
  }
  ExtractSegment(reader, stub, packagePosition, kStubMode, scriptPath);
  RemoveFileWithRetry(stubPath);

  platform::File script;
  if (!platform::OpenFile(scriptPath, platform::OpenMode::CreateAlways, script)) {
    Fail(kFatalTempFile, "cannot create the setup script", scriptPath);
  }
  ExtractSegment(reader, script, packagePosition, kSegmentMode, scriptPath);
}

std::int32_t SilentInstall() {
  ExtractPayload(scriptPath, packageFile, packagePosition, packageChunkSize);
  const std::uint32_t status = RunFinishingCommand(scriptPath);
  RunStatus.exitStatus = static_cast<std::int32_t>(status);
  if (status == 0 || status == kRestartNeeded) {
    RemoveExtractedFiles(scriptPath);
    return RunStatus.exitStatus;
  }
  // The files stay, so that whoever runs the install can look at what the command left.
  return -1;
}

std::int32_t DialogInstall(void* instance, const char* restartCaption) {
  const std::intptr_t result = RunInstallerDialog(instance);
  // A page that cannot even be shown installed nothing: that is no success. Like a cancel, it ends
  // with -1, deleting nothing and showing nothing (a box would fail the same way).
  if (result == kDialogCancelled || result == kDialogFailed) ReportFatal(kFatalCancelled, scriptPath);
  if (RunStatus.exitStatus != kRestartNeeded) {
    RemoveExtractedFiles(scriptPath);
    return RunStatus.exitStatus;
  }
  ScriptText question;
  ReadLangText("Msg12", question);
  const int answer = platform::ShowMessageBox(
      question, restartCaption,
      platform::kMbSetForeground | platform::kMbIconQuestion | platform::kMbYesNo);
  if (answer == platform::kIdYes) RestartSequence(scriptPath);
  return kRestartNeeded;
}

}  // namespace

void RestartSequence(const char* script) {
  if (IsNtFamily()) EnableShutdownPrivilege();
  RemoveExtractedFiles(script);
  RequestRestart();
}

std::int32_t Installer(std::int32_t silent, void* instance) {
  StartUp();
  ScriptText restartCaption;
  ReadScriptValue("Cmd", "Title", "<No title>", restartCaption, scriptPath);
  // The 9x family has no tokens, so the check fails there for everybody: only NT refuses.
  if (IsAdministrator() == 0 && IsNtFamily()) {
    Fail(kFatalNotAdmin, "administrator rights are needed", scriptPath);
  }
  return silent == 1 ? SilentInstall() : DialogInstall(instance, restartCaption);
}
