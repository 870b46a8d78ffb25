// The installer role: verifies the running package, extracts it into the temporary directory, runs
// the finishing command and cleans up.
#pragma once

#include <cstdint>
#include <string>

#include "installer/session.h"
#include "script/failure.h"

// Runs the install silently (silent = 1) or with the page from `instance`; returns 0, 3010 or -1.
// Every failure ends in ReportFatal and the status -1. A run with `logPath` writes its steps and
// outcome there (an empty one, a /log that names no file, is a failure); a failed run without it
// adds a line to kFailureLogName in the temporary directory.
std::int32_t Installer(std::int32_t silent, void* instance, const char* logPath);

// The installer's one place where a failure becomes what the user sees: unless the run is silent
// or the code is 6 (a cancel), the decoder's result box when the failure carries one, then the
// script's ErrNN text for the code (from the section ScriptLanguage chooses) under the script's
// Title, or, when the script has no such text, the fallback box whose caption names `scriptPath`.
// Returns the exit status -1.
std::int32_t ReportFatal(const Failure& failure, const SetupScript& script, const std::string& scriptPath,
                         bool silent);

// What follows the answer Yes to the restart question: the shutdown privilege on the NT family, the
// clean-up, then the restart request, whose answer is not looked at.
void RestartSequence(InstallSession& session);
