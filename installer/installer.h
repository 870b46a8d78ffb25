// The installer role: verifies the running package, extracts it into the temporary directory, runs
// the finishing command and cleans up.
#pragma once

#include <cstdint>

// Runs the install silently (silent = 1) or with the dialog from `instance`; returns 0, 3010 or -1.
// Every failure ends the process through ReportFatal with exit status -1.
std::int32_t Installer(std::int32_t silent, void* instance);

// What follows the answer Yes to the restart question: the shutdown privilege on the NT family, the
// clean-up, then the restart request, whose answer is not looked at.
void RestartSequence(const char* scriptPath);
