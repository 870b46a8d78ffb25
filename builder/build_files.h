// The files a build reads and the files it writes, kept apart: a build never writes over what it
// reads, never reads what is no plain file (a folder, a device or a pipe could block it or stream
// without end), and both hosts agree on what a path names.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "script/failure.h"
#include "script/setup_script.h"

// What a path of the packing list names, alike on both hosts. A path holding a character that
// Windows forbids in names (* ? < > " |) names no file, as it does on Windows, even where the native
// file system has one of that name. A path whose last step is a device name ("nul.txt", "COM1") or
// that enters the device namespace (\\.\) is a device, as Windows opens it.
platform::FileKind KindOfPath(const char* path);

// A file the build reads, and what it is to the build ("the packing list", "the source of File02").
struct BuildInput {
  std::string path;  // platform text
  std::string role;
};

// Every file that the packing list at `listPath` names for reading, as far as `list` (its parsed
// text, empty when it could not be read) names them: the list itself, the stub (`stubOverride`
// when not null, else QorFileName), the version file and each Files source up to the first missing
// entry. Paths that name nothing are included; they simply have no identity.
std::vector<BuildInput> NamedInputs(const char* listPath, const SetupScript& list,
                                    const char* stubOverride = nullptr);

// Refuses (code 3) a build whose output `outputPath` or build log is one of `inputs`, whose output
// is the build log, or whose output is no plain file or is read-only. Nothing is created or changed here.
Failure CheckWrittenFiles(const std::vector<BuildInput>& inputs, const char* outputPath);

// True when the build log may be written as `logPath`: it is missing or a plain file, and neither
// one of `inputs` nor the output `outputPath` (null when the build did not get that far).
bool MayWriteLog(const char* logPath, const std::vector<BuildInput>& inputs, const char* outputPath);

// "%s is a folder, not a file." and the like for `what` ("The source of File02 (src\x)"), as a
// failure with `code`; for kinds Folder and Other only.
Failure NotAFile(int code, const std::string& what, platform::FileKind kind);
