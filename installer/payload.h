// The installer's steps on the payload: extract every FileNN entry of the setup script into the
// temporary directory, run the finishing command from there, and delete what was extracted.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Lets the installer page keep painting and show progress while the steps run; both may be null.
struct InstallProgress {
  // Called as the payload is extracted: bytes of the package read so far, and the package size.
  void (*extracted)(std::uint32_t done, std::uint32_t total);
  // Called between the waits for the finishing command (at least once a second).
  void (*waiting)();
};

// Writes every payload file named by the script's Files entries into the temporary directory,
// reading the package from `position` (advanced past the last piece) and closes the package.
// Returns 0; every failure ends the process through ReportFatal.
std::int32_t ExtractPayload(const char* scriptPath, platform::File& package, std::uint32_t& position,
                            std::uint32_t chunk, const InstallProgress* progress = nullptr);

// Runs Cmd/FileName from the temporary directory, waits for it, and returns its exit status: 0
// success, 3010 success with a restart needed, anything else failure. A command that cannot be
// started returns 0xFFFFFFFF, a failure. A missing FileName ends the process through ReportFatal.
std::uint32_t RunFinishingCommand(const char* scriptPath, const InstallProgress* progress = nullptr);

// Deletes the extracted payload files and then the script itself, by the script's own list.
void RemoveExtractedFiles(const char* scriptPath);
