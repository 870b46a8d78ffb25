// Reading and checking the Files entries of the setup script.
#include "installer/payload_list.h"

#include <cstdio>
#include <cstring>


EntryProblem EntryName(const char* value, std::string& name) {
  name.clear();
  const char* comma = std::strrchr(value, ',');
  if (comma == nullptr) return EntryProblem::NoComma;
  std::string candidate(value, comma);
  // The name is joined to the temporary directory as it is, and the same name is deleted again
  // at the end: anything that is not a plain file name could write or delete elsewhere.
  if (candidate.empty() || candidate == "." || candidate == ".." ||
      candidate.find_first_of("\\/:") != std::string::npos) {
    return EntryProblem::NotPlainName;
  }
  name = std::move(candidate);
  return EntryProblem::None;
}

std::vector<PayloadEntry> ReadPayloadList(const char* scriptPath) {
  return ReadPayloadList([scriptPath](const char* section, const char* key, ScriptText& value) {
    return ReadScriptValue(section, key, "@", value, scriptPath);
  });
}

std::vector<PayloadEntry> ReadPayloadList(const ScriptLookup& lookup) {
  std::vector<PayloadEntry> entries;
  for (int n = 1; n <= 99; ++n) {
    char key[8];
    std::snprintf(key, sizeof key, "File%02d", n);
    ScriptText value;
    const ScriptValue found = lookup("Files", key, value);
    if (found == ScriptValue::Missing) break;
    PayloadEntry entry{key, {}, EntryProblem::TooLong};
    if (found == ScriptValue::Present) entry.problem = EntryName(value, entry.name);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string DescribeEntryProblem(const PayloadEntry& entry) {
  switch (entry.problem) {
    case EntryProblem::None: return entry.key + " names " + entry.name;
    case EntryProblem::NoComma: return entry.key + " has no comma";
    case EntryProblem::TooLong: return entry.key + " is longer than 259 characters";
    case EntryProblem::NotPlainName: return entry.key + " does not name a plain file";
  }
  return entry.key;
}
