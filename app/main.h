// The process entry of both roles: the switch in the first two characters of the argument text
// chooses the help box, the package builder, or the installer (silent or with its dialog).
#pragma once

#include <cstdint>

// The roles that Main dispatches to; tests replace them with probes.
struct Roles {
  void (*help)();
  std::int32_t (*builder)(const char* argumentText);
  std::int32_t (*installer)(std::int32_t silent, void* instance);
};
extern const Roles kProgramRoles;

// Runs the role that the argument text selects and returns the process exit status. `instance` is
// the module that holds the dialog resources (passed on to the installer).
std::int32_t Main(void* instance, const char* argumentText, const Roles& roles = kProgramRoles);

// The argument text of a full command line: what follows the program name (which ends at the closing
// quote when the line begins with one, else at the first blank), with the blanks after it skipped.
const char* ArgumentText(const char* commandLine);

// The help box that "/?" shows.
void ShowHelpBox();
