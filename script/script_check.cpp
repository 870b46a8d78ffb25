// CheckSetupScript: the rules in the order the installer meets them, each refusal worded once.
#include "script/script_check.h"

#include "platform/platform.h"
#include "script/languages.h"
#include "script/payload_list.h"

namespace {

// How long `name`'s part of a path in the extraction folder is, as Windows counts it.
std::size_t NameLength(const std::string& name) { return platform::PathLength(platform::FromScriptText(name)); }

// The kind of program `name` is, by its extension; false for one the installer does not start.
bool KindOfProgram(const std::string& name, ProgramKind& kind) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot);
  static const struct {
    const char* extension;
    ProgramKind kind;
  } kKinds[] = {{".exe", ProgramKind::Executable},       {".com", ProgramKind::Executable},
                {".msi", ProgramKind::InstallerPackage}, {".cmd", ProgramKind::CommandScript},
                {".bat", ProgramKind::CommandScript}};
  for (const auto& known : kKinds) {
    if (SameFileName(extension, known.extension)) {
      kind = known.kind;
      return true;
    }
  }
  return false;
}

}  // namespace

Failure CheckPayloadList(const SetupScript& script, std::vector<PlannedFile>& files, std::size_t folderLength) {
  files.clear();
  // The installer holds the script in memory and refuses a larger one while decoding it; a packing
  // list of that size would build a package that cannot install.
  if (script.text().size() > kMaxScriptSize) {
    return Fail(kFatalScript, std::string(kScriptName) + " is larger than " + std::to_string(kMaxScriptSize) + " bytes");
  }
  if (folderLength != 0 && folderLength + NameLength(kScriptName) > kMaxValueLength) {
    return Fail(kFatalTempFile, std::string("the path of ") + kScriptName + " is longer than 259 characters");
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
    if (folderLength != 0 && folderLength + NameLength(entry.name) > kMaxValueLength) {
      return Fail(kFatalTempFile, "the path of " + entry.name + " is longer than 259 characters");
    }
    files.push_back({entry.key, entry.name, entry.source});
  }
  if (files.empty()) return Fail(kFatalScript, "the script lists no File01");
  return Failure();
}

std::size_t LongestTemporaryDirectory(const InstallPlan& plan) {
  // The separators around the private folder's name count too: the one after the temporary
  // directory (GetTempPath always ends with it) and the one after "Qor" and its digits.
  constexpr std::size_t kFolderPart = 1 + 19 + 1;
  return kMaxValueLength - kFolderPart - plan.longestName;
}

Failure CheckSetupScript(const SetupScript& script, InstallPlan& plan, std::size_t folderLength) {
  plan = InstallPlan();
  if (Failure failure = CheckPayloadList(script, plan.files, folderLength)) return failure;
  plan.longestName = NameLength(kScriptName);
  for (const PlannedFile& file : plan.files) {
    if (NameLength(file.name) > plan.longestName) plan.longestName = NameLength(file.name);
  }
  if (script.Read("Out", "OutputName", plan.outputName) == ScriptValue::Missing) {
    return Fail(kFatalScript, "the script has no OutputName");
  }
  PlannedCommand& command = plan.command;
  switch (script.Read("Cmd", "FileName", command.text)) {
    case ScriptValue::Present: break;
    case ScriptValue::Missing: return Fail(kFatalScript, "the script has no FileName");
    case ScriptValue::TooLong: return Fail(kFatalScript, "FileName is longer than 259 characters");
  }
  if (!SplitFinishingCommand(command.text, command.program, command.arguments)) {
    return Fail(kFatalScript, "FileName names no program: " + command.text);
  }
  // The finishing command starts a program that this package brought along, never one from
  // elsewhere on the machine.
  for (command.file = 0; command.file < plan.files.size(); ++command.file) {
    if (SameFileName(plan.files[command.file].name, command.program)) break;
  }
  if (command.file == plan.files.size()) {
    return Fail(kFatalScript, "FileName's program " + command.program + " is none of the payload files");
  }
  // Anything else would be started by whatever the machine associates with its extension, or not at
  // all: the installer starts programs, installer packages and command scripts, each its own way.
  if (!KindOfProgram(plan.files[command.file].name, command.kind)) {
    return Fail(kFatalScript, "FileName's program " + command.program + " is no .exe, .com, .msi, .cmd or .bat file");
  }
  // The page and the error boxes take their texts from the sections LANG names: a script without it
  // would install silently and fail on a double-click.
  std::string lang;
  switch (script.Read("Cmd", "LANG", lang)) {
    case ScriptValue::Present: break;
    case ScriptValue::Missing: return Fail(kFatalScript, "the script has no LANG");
    case ScriptValue::TooLong: return Fail(kFatalScript, "LANG is longer than 259 characters");
  }
  plan.languages = SplitLanguageList(lang);
  return CheckLanguageList(script, plan.languages);
}
