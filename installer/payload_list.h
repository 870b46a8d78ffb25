// The payload list of the setup script: the Files entries File01, File02, ... up to the first
// missing key (so a gap ends the list; File99 is the last that is ever read). Each entry is
// "<name>,<source path>"; the installer uses only the name, the text before the last comma.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/script.h"

enum class EntryProblem {
  None,
  NoComma,       // the value has no comma, so it names no file
  TooLong,       // the value does not fit 259 characters
  NotPlainName,  // the name is empty, ".", "..", or holds a drive, "\" or "/": it would reach
                 // outside the temporary directory
};

struct PayloadEntry {
  std::string key;   // "File01" ...
  std::string name;  // the file name in the temporary directory (empty unless problem is None)
  EntryProblem problem;
};

// Reads the list from the script at `scriptPath`; an empty list when File01 is missing.
std::vector<PayloadEntry> ReadPayloadList(const char* scriptPath);

// One value of a script held elsewhere (qorpack reads it from memory), answered as ReadScriptValue
// answers with the default "@".
using ScriptLookup = std::function<ScriptValue(const char* section, const char* key, ScriptText& value)>;
std::vector<PayloadEntry> ReadPayloadList(const ScriptLookup& lookup);

// The name that an entry value gives, or the problem that keeps it from naming a file.
EntryProblem EntryName(const char* value, std::string& name);

// A reason for an entry's problem, for error texts and tool messages ("File03 has no comma").
std::string DescribeEntryProblem(const PayloadEntry& entry);
