// The native build's answers to the installer's security questions: like a 9x system, it has no
// group to require and no privilege to enable, and it never restarts the machine.
#include "installer/privileges.h"

std::int32_t IsAdministrator() { return 0; }

bool IsNtFamily() { return false; }

void EnableShutdownPrivilege() {}

bool RequestRestart() { return false; }
