// Reading and checking the Files entries of the setup script.
#include "script/payload_list.h"

#include <cstdio>
#include <cstring>
#include <utility>

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

std::string PayloadKey(int number) {
  char key[8];
  std::snprintf(key, sizeof key, "File%02d", number);
  return key;
}

std::vector<PayloadEntry> ReadPayloadList(const SetupScript& script) {
  std::vector<PayloadEntry> entries;
  for (int n = 1; n <= kLastPayloadEntry; ++n) {
    std::string key = PayloadKey(n);
    std::string value;
    const ScriptValue found = script.Read("Files", key.c_str(), value);
    if (found == ScriptValue::Missing) break;
    PayloadEntry entry{std::move(key), {}, EntryProblem::TooLong};
    if (found == ScriptValue::Present) entry.problem = EntryName(value.c_str(), entry.name);
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
