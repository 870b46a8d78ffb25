// CheckSetupScript: the rules in the order the installer meets them.
#include "script/script_check.h"

#include "script/payload_list.h"

namespace {

// The setup script is extracted beside the payload under this name.
const char kScriptName[] = "SetupQor.ini";

}  // namespace

Failure CheckSetupScript(const SetupScript& script, std::size_t folderLength) {
  // The installer holds the script in memory and refuses a larger one while decoding it; a packing
  // list of that size would build a package that cannot install.
  if (script.text().size() > kMaxScriptSize) {
    return Fail(kFatalScript, std::string(kScriptName) + " is larger than " + std::to_string(kMaxScriptSize) + " bytes");
  }
  const std::vector<PayloadEntry> entries = ReadPayloadList(script);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PayloadEntry& entry = entries[i];
    if (entry.problem != EntryProblem::None) return Fail(kFatalScript, DescribeEntryProblem(entry));
    // Two entries of one name would write one file twice, and the clean-up would delete it twice;
    // the script's own name would let the payload replace the script in the middle of the install.
    for (std::size_t j = 0; j < i; ++j) {
      if (SameFileName(entries[j].name, entry.name)) {
        return Fail(kFatalScript, entry.key + " names " + entry.name + " again, as " + entries[j].key + " does");
      }
    }
    if (SameFileName(entry.name, kScriptName)) {
      return Fail(kFatalScript, entry.key + " has the setup script's own name, " + entry.name);
    }
    if (folderLength != 0 && folderLength + entry.name.size() > kMaxValueLength) {
      return Fail(kFatalTempFile, "the path of " + entry.name + " is longer than 259 characters");
    }
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
  // The finishing command starts a program that this package brought along, never one from
  // elsewhere on the machine.
  std::string program, arguments;
  if (!SplitFinishingCommand(value, program, arguments)) {
    return Fail(kFatalScript, "FileName names no program: " + value);
  }
  for (const PayloadEntry& entry : entries) {
    if (SameFileName(entry.name, program)) return Failure();
  }
  return Fail(kFatalScript, "FileName's program " + program + " is none of the payload files");
}
