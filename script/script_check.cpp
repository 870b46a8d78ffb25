// CheckSetupScript: the rules in the order the installer meets them.
#include "script/script_check.h"

#include "script/payload_list.h"

Failure CheckSetupScript(const SetupScript& script) {
  const std::vector<PayloadEntry> entries = ReadPayloadList(script);
  for (const PayloadEntry& entry : entries) {
    if (entry.problem != EntryProblem::None) return Fail(kFatalScript, DescribeEntryProblem(entry));
  }
  if (entries.empty()) return Fail(kFatalScript, "the script lists no File01");
  std::string value;
  if (script.Read("Out", "OutputName", value) == ScriptValue::Missing) {
    return Fail(kFatalScript, "the script has no OutputName");
  }
  switch (script.Read("Cmd", "FileName", value)) {
    case ScriptValue::Present: break;
    case ScriptValue::Missing: return Fail(kFatalScript, "the script has no FileName");
    case ScriptValue::TooLong: return Fail(kFatalScript, "FileName is longer than 259 characters");
  }
  return Failure();
}
