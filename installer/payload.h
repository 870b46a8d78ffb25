// The installer's steps on the payload: extract the files of the plan into the extraction folder,
// run the finishing command from there, and delete what was extracted.
#pragma once

#include <cstdint>
#include <string>

#include "installer/session.h"
#include "script/failure.h"

// Lets the installer page keep painting and show progress while the steps run; either may be null.
struct InstallProgress {
  void* context;
  // Called as the payload is extracted: bytes of the package read so far, and the package size.
  void (*extracted)(void* context, std::uint32_t done, std::uint32_t total);
  // Called between the waits for the finishing command (at least once a second).
  void (*waiting)(void* context);
};

// The verdict on the package's signatures (session.signatures.Finish), waiting for it while it is
// computed; the first call writes what each signature says to the /log record ("signature: ..." or
// "nested signature: ..."). Every step that runs, shows or looks into what the package holds asks
// for it first, and so does a failing run, whose failure it replaces: a package whose signature
// does not match is refused for that, whatever else went wrong meanwhile.
Failure AwaitSignatures(InstallSession& session);

// Writes every payload file of session.plan into the run's extraction folder, each created
// exclusively (a file of that name already there is a failure, never overwritten), reading the
// package from session.position up to session.payloadEnd, then waits for the signatures' verdict
// (AwaitSignatures) and checks that the first file has a version block. Records each file in
// session.created and session.extracted. Fails with code 3 (and the system's reason) when a file
// cannot be created or the first file has no version block, as AwaitSignatures says, and as
// ExtractSegment says for damaged pieces. The package stays open for RunFinishingCommand.
Failure ExtractPayload(InstallSession& session, const InstallProgress* progress = nullptr);

// Runs the plan's finishing command (see FinishingCommandLine) in the current directory, waits for
// it, and puts its exit status into `status`. Its payload file is the one ExtractPayload wrote: it
// is locked against other writers and compared with its segment in the package before anything
// starts; a difference (another process changed it) is code 3. A program keeps the lock until it has
// started; an installer package or a command script, which msiexec.exe or cmd.exe reads while it
// runs, until the command has ended. A command that cannot be started (or whose system program
// cannot be found) is code 7 with the system's reason. Closes the package.
Failure RunFinishingCommand(InstallSession& session, std::uint32_t& status,
                            const InstallProgress* progress = nullptr);

// The finishing command's exit statuses that mean done, besides 0.
constexpr std::uint32_t kStatusRestartNeeded = 3010;   // the machine must restart to finish
constexpr std::uint32_t kStatusRestartStarted = 1641;  // msiexec.exe has started that restart itself

// The finishing command's outcome: none for 0, 3010 and 1641, else code 7 naming the status.
Failure JudgeCommandStatus(std::uint32_t status);

// The environment variable that hands cmd.exe a command script's full path.
constexpr char kCommandScriptVariable[] = "QOR_COMMAND_SCRIPT";

// How the finishing command is started: the program the system starts and its command line.
struct FinishingCommand {
  std::string program;      // the full path of the program started, never searched for
  std::string commandLine;  // the whole command line, its program quoted first
  std::string script;       // a command script's full path, the value of kCommandScriptVariable
                            // that the command line reads; empty for the other kinds
};

// The finishing command of `command`, whose payload file lies in `directory` (the extraction folder,
// with its separator); `systemDirectory` is the system folder (without one), where msiexec.exe and
// cmd.exe are taken from, never from a search or from COMSPEC. The arguments follow as written:
//   program:            "<directory><program>" <arguments>
//   installer package:  "<system>\msiexec.exe" /i "<directory><package>" <arguments>
//   command script:     "<system>\cmd.exe" /d /v:off /s /c ""%QOR_COMMAND_SCRIPT%" <arguments>"
// False when a path does not fit 259 characters.
bool FinishingCommandLine(const std::string& directory, const std::string& systemDirectory,
                          const PlannedCommand& command, FinishingCommand& finishing);

// Closes and deletes the run's live mark: a folder kept on purpose is then never taken for the
// leftover of a killed run.
void ReleaseLiveMark(InstallSession& session);

// Deletes the files this run created in its extraction folder (session.created), newest first, then
// its live mark and the folder itself. A file that is still busy is tried again for about a second before it is left;
// a folder that still holds anything (a file someone else put there) stays.
void RemoveExtractedFiles(InstallSession& session);

// Adds the open `file` at `path` to the files this run created; code 3 when it cannot be identified.
Failure RecordCreated(InstallSession& session, const std::string& path, platform::File& file);

// Deletes a file this run created in its extraction folder, which is still held, trying again for
// about a second while it is busy; false when it stays. A file another process put at its name is
// left alone.
bool RemoveFileWithRetry(InstallSession& session, const CreatedFile& file);
