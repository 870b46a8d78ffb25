// The installer page: runs the install from its main button and reports the outcome.
#pragma once

#include <cstdint>

// Runs the page modally from dialog template 101 of `instance`; returns the dialog's end result:
// 0 after the closing press, 6 when cancelled. Sets RunStatus.exitStatus to 3010 when the
// finishing command asks for a restart.
std::intptr_t RunInstallerDialog(void* instance);
