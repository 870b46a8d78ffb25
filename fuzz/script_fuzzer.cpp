// Fuzz target of the one check of a setup script and of the texts the installer shows from it: any
// text must be judged without a crash, and a script the check accepts must keep the check's promises
// to the installer: its finishing program is a payload file of a kind that starts, its command line
// can be formed, and with a LANG list every page text has something to show, whichever section the
// user gets.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "installer/payload.h"
#include "script/languages.h"
#include "script/payload_list.h"
#include "script/script_check.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const SetupScript script(std::string(reinterpret_cast<const char*>(data), size));
  InstallPlan plan;
  const Failure failure = CheckSetupScript(script, plan);
  // Error boxes take their language from any script, accepted or not.
  const LanguageChoice errors = ScriptLanguage(script);
  for (int code = 2; code <= 9; ++code) {
    char key[8];
    std::snprintf(key, sizeof key, "Err%02d", code);
    LanguageText(script, errors, key);
  }
  if (failure) {
    Check(failure.code == kFatalScript && !failure.reason.empty());
    return 0;
  }
  Check(!plan.files.empty() && plan.command.file < plan.files.size());
  Check(SameFileName(plan.files[plan.command.file].name, plan.command.program));
  FinishingCommand finishing;
  Check(FinishingCommandLine("C:\\T\\", "C:\\Windows\\system32", plan.command, finishing));
  Check(finishing.script.empty() == (plan.command.kind != ProgramKind::CommandScript));
  if (plan.languages.size() < 2) return 0;
  // Whichever listed section is chosen, every page text shows something.
  for (const std::string& section : plan.languages) {
    LanguageChoice choice;
    choice.section = section;
    choice.first = plan.languages.front();
    for (int number = kFirstPageText; number <= kLastPageText; ++number) {
      char key[8];
      std::snprintf(key, sizeof key, "Msg%02d", number);
      const std::string text = LanguageText(script, choice, key);
      Check(!text.empty() && text[0] != '@');
    }
  }
  return 0;
}
