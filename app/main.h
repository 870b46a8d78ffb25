// The process entry of both roles: the switch in the first two characters of the argument text
// chooses the help box, the package builder, or the installer (silent or with its dialog).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The roles that Main dispatches to; tests replace them with probes.
struct Roles {
  void (*help)();
  std::int32_t (*builder)(const char* argumentText);
  // `logPath`: the FILE of "/h /log FILE", else empty.
  std::int32_t (*installer)(std::int32_t silent, void* instance, const char* logPath);
};
extern const Roles kProgramRoles;

// Runs the role that the argument text selects and returns the process exit status. `instance` is
// the module that holds the dialog resources (passed on to the installer).
std::int32_t Main(void* instance, const char* argumentText, const Roles& roles = kProgramRoles);

// The argument text of a full command line: what follows the program name (which ends at the closing
// quote when the line begins with one, else at the first blank), with the blanks after it skipped.
const char* ArgumentText(const char* commandLine);

// The FILE of a "/log FILE" option in `rest` (the argument text after its two-character switch):
// "/log" in any case as a word of its own, then blanks, then FILE, in double quotes (which may hold
// blanks) or up to the next blank. Nothing when there is no such option; an empty FILE when the
// option names none (which the installer refuses with a reason).
std::optional<std::string> LogOption(const char* rest);

// The help box that "/?" shows.
void ShowHelpBox();
