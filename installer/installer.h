// The installer role: verifies the running package, extracts it into the temporary directory, runs
// the finishing command and cleans up.
#include <cstdint>
#pragma once

// Runs the install silently (silent = 1) or with the dialog from `instance`; returns 0, 3010 or -1.
std::int32_t Installer(std::int32_t silent, void* instance);
