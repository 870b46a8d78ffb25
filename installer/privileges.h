// The installer's questions to the security system and its restart request. Windows answers them
// in installer/win32; the native build (installer/posix) has no such notions and answers as a 9x
// system would: no refusal, nothing to enable, no restart.
#pragma once

#include <cstdint>

// 1 when the process's user is a member of the local Administrators group (deny-only membership
// counts too), 0 otherwise and on every failure. Kept in a file of its own: a test executable links
// its own IsAdministrator in its place to reach the refusal.
std::int32_t IsAdministrator();

// True on the NT family, where a missing membership refuses the install and a restart needs the
// shutdown privilege; false on the 9x family.
bool IsNtFamily();

// Switches on the shutdown privilege of the process's token; failures show only as a refused
// restart request.
void EnableShutdownPrivilege();

// Asks the system to restart (not forced: other programs may still object). The answer is not
// looked at by the installer; true when the request was accepted.
bool RequestRestart();
