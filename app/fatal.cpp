// ReportFatal: the script's error text for the code, or the fallback box when the script cannot
// give one, then exit status -1.
#include "app/fatal.h"

#include <cstdio>
#include <cstdlib>

#include "app/ini.h"
#include "app/process_state.h"
#include "app/script.h"

void ReportFatal(int code, const char* scriptPath) {
  // The builder's first check fails before there is a packing list to name.
  if (scriptPath == nullptr) scriptPath = "";
  if (silentMode != 1 && code != kFatalCancelled) {
    char key[8];
    std::snprintf(key, sizeof key, "Err%02d", code);
    ScriptText language;
    ReadScriptValue("Cmd", "LANG", "@", language, scriptPath);
    const char* section = IsMissing(language) ? "ENU" : language;
    ReadProfileValue(section, key, "@", lastMessage, sizeof lastMessage, scriptPath);
    if (!IsMissing(lastMessage)) {
      ScriptText caption;
      ReadScriptValue("Cmd", "Title", "@", caption, scriptPath);
      if (RunStatus.builderMode != 1) {
        platform::ShowMessageBox(lastMessage, caption,
                                 platform::kMbSetForeground | platform::kMbIconWarning);
      }
    } else if (RunStatus.builderMode != 1) {
      // No script, no language section or no text for the code: still tell the user something.
      char caption[platform::kPathCapacity + 32];
      std::snprintf(caption, sizeof caption, "Error Code: %i (%s)\n", code, scriptPath);
      platform::ShowMessageBox("Unable to find SetupQor.ini file.  Exiting.", caption,
                               platform::kMbOk);
    }
  }
  // exit() rather than a hard end: registered exit handlers run and files are flushed and closed.
  std::exit(-1);
}
