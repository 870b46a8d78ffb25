// Switch dispatch: only the first two characters of the argument text decide, without regard to
// case, so "/h", "/H" and "/hide" all mean the silent installer.
#include "app/main.h"

#include <cstring>

#include "builder/builder.h"
#include "installer/installer.h"
#include "platform/platform.h"

const Roles kProgramRoles = {ShowHelpBox, PackageBuilder, Installer};

namespace {

bool SwitchIs(const char (&switchText)[3], const char* expected) {
  // ASCII case folding, as the two-character switches are plain ASCII.
  for (int i = 0; i < 3; ++i) {
    char a = switchText[i], b = expected[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

}  // namespace

std::int32_t Main(void* instance, const char* argumentText, const Roles& roles) {
  platform::InitCommonControls();

  char switchText[3] = {};
  for (int i = 0; i < 2 && argumentText[i] != '\0'; ++i) switchText[i] = argumentText[i];

  if (SwitchIs(switchText, "/?")) {
    roles.help();
    return 0;
  }
  if (SwitchIs(switchText, "/m")) {
    // The builder bounds the argument text itself, after it has opened its log, so that an
    // over-long text is refused with a log line like every other build failure.
    return roles.builder(argumentText);
  }
  const bool silent = SwitchIs(switchText, "/h");
  const std::optional<std::string> log = LogOption(silent ? argumentText + 2 : argumentText);
  return roles.installer(silent ? 1 : 0, instance, log ? log->c_str() : nullptr);
}

const char* ArgumentText(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

std::optional<std::string> LogOption(const char* rest) {
  const char* p = rest;
  while (*p != '\0') {
    while (*p == ' ' || *p == '\t') ++p;
    const char* word = p;
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    const bool isLog = p - word == 4 && word[0] == '/' && (word[1] | 0x20) == 'l' && (word[2] | 0x20) == 'o' &&
                       (word[3] | 0x20) == 'g';
    if (!isLog) continue;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '"') {
      const char* close = std::strchr(p + 1, '"');
      // An opening quote without its closing one takes the rest of the text.
      return close != nullptr ? std::string(p + 1, close) : std::string(p + 1);
    }
    const char* end = p;
    while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
    return std::string(p, end);
  }
  return std::nullopt;
}

void ShowHelpBox() {
  static const char kHelp[] =
      "\nValid Command line options:\n\n"
      "  QorEngineUpdate /h [silent install]\n"
      "  QorEngineUpdate /h /log FILE [silent install, steps and outcome written to FILE]\n"
      "  QorEngineUpdate [UI Install]\n"
      "  QorEngineUpdate /log FILE [UI Install, steps and outcome written to FILE]\n\n"
      "A failed install without /log adds a line to QorEngineUpdate.log in %TEMP%.\n";
  platform::ShowMessageBox(kHelp, "Tessaly Help", platform::kMbIconInformation);
}
