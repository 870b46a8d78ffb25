// The installer's steps on the payload: extract every FileNN entry of the setup script into the
// extraction folder, run the finishing command from there, and delete what was extracted.
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

// Writes every payload file named by the script's Files entries into the run's extraction folder,
// each created exclusively (a file of that name already there is a failure, never overwritten),
// reading the package from session.position up to session.payloadEnd, then checks that the first
// file has a version block. Records each file in session.created and session.extracted. The script
// has passed CheckSetupScript. Fails with code 8 when a path does not fit 259 characters, code 3 when
// a file cannot be created or the first file has no version block, and as ExtractSegment says for
// damaged pieces. The package stays open for RunFinishingCommand.
Failure ExtractPayload(InstallSession& session, const InstallProgress* progress = nullptr);

// What RunFinishingCommand gives when the command cannot be started: a failure status.
constexpr std::uint32_t kCommandNotStarted = 0xFFFFFFFFu;

// Runs Cmd/FileName from the extraction folder in the current directory, waits for it, and puts
// its exit status into `status`: 0 success, 3010 success with a restart needed, anything else
// failure (kCommandNotStarted when it cannot be started). The program must be one of the files
// ExtractPayload wrote: it is locked against other writers and compared with its segment in the
// package before it starts; a difference (another process changed it) is code 3. Fails with code 4
// when FileName is missing, too long or names no extracted file, and code 8 when the program path
// does not fit 259 characters. Closes the package.
Failure RunFinishingCommand(InstallSession& session, std::uint32_t& status,
                            const InstallProgress* progress = nullptr);

// The command line that runs `fileName` (a program name, alone or in double quotes, then its
// arguments) from `directory`: the program path quoted, the arguments as they are. False when the
// program name is empty or the program path does not fit 259 characters.
bool FinishingCommandLine(const char* directory, const char* fileName, std::string& commandLine);

// Deletes the files this run created in its extraction folder (session.created), newest first, then
// the folder itself. A file that is still busy is tried again for about a second before it is left;
// a folder that still holds anything (a file someone else put there) stays.
void RemoveExtractedFiles(InstallSession& session);

// Deletes `path`, trying again for about a second while it still exists; false when it stays.
bool RemoveFileWithRetry(const char* path);
