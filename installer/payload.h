// The installer's steps on the payload: extract every FileNN entry of the setup script into the
// temporary directory, run the finishing command from there, and delete what was extracted.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Lets the installer page keep painting and show progress while the steps run; both may be null.
struct InstallProgress {
  // Called as the payload is extracted: bytes of the package read so far, and the package size.
  void (*extracted)(std::uint32_t done, std::uint32_t total);
  // Called between the waits for the finishing command (at least once a second).
  void (*waiting)();
};

// Writes every payload file named by the script's Files entries into the temporary directory,
// reading the package from `position` (advanced past the last piece) up to `chunk` (its length less
// the checksum word), and closes the package. Then checks that the first file has a version block
// and that the script names an OutputName. Returns 0; every failure ends the process through
// ReportFatal: a list entry without a comma, or whose name is not a plain file name, with code 4
// before anything is extracted; a path that does not fit 259 characters or an unknown temporary
// directory with code 8; a file that cannot be created, or a first file without version, with
// code 3; a missing File01 or OutputName with code 4; damaged pieces as ExtractSegment says.
std::int32_t ExtractPayload(const char* scriptPath, platform::File& package, std::uint32_t& position,
                            std::uint32_t chunk, const InstallProgress* progress = nullptr);

// What RunFinishingCommand returns when the command cannot be started: a failure status.
constexpr std::uint32_t kCommandNotStarted = 0xFFFFFFFFu;

// Runs Cmd/FileName from the temporary directory in the current directory, waits for it, and
// returns its exit status: 0 success, 3010 success with a restart needed, anything else failure
// (kCommandNotStarted when it cannot be started). A missing or over-long FileName ends the process
// with code 4, an unknown temporary directory or a program path over 259 characters with code 8.
std::uint32_t RunFinishingCommand(const char* scriptPath, const InstallProgress* progress = nullptr);

// The command line that runs `fileName` (a program name, alone or in double quotes, then its
// arguments) from `directory`: the program path quoted, the arguments as they are. False when the
// program name is empty or the program path does not fit 259 characters.
bool FinishingCommandLine(const char* directory, const char* fileName, std::string& commandLine);

// Deletes the extracted payload files and then the script itself, by the script's own list. Entries
// that name no plain file are skipped; nothing outside the temporary directory is touched. A file
// that is still busy is tried again for about a second before it is left. Nothing is deleted when the
// temporary directory cannot be found.
void RemoveExtractedFiles(const char* scriptPath);

// Deletes `path`, trying again for about a second while it still exists; false when it stays.
bool RemoveFileWithRetry(const char* path);
