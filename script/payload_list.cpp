// Reading and checking the Files entries of the setup script.
#include "script/payload_list.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/platform.h"

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = FoldAscii(c);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  // The superscript digits 1, 2 and 3 of the ANSI code page (B9, B2, B3) name the same ports.
  const unsigned char digit = base.size() == 4 ? static_cast<unsigned char>(base[3]) : 0;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

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
  // Windows would create a name like these differently, or not at all, or open a device instead.
  for (const char c : candidate) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return EntryProblem::BadCharacter;
  }
  if (candidate.back() == '.' || candidate.back() == ' ') return EntryProblem::BadEnding;
  if (IsDeviceName(candidate)) return EntryProblem::DeviceName;
  name = std::move(candidate);
  return EntryProblem::None;
}

const char* EntrySourcePath(const char* entry) {
  const char* comma = std::strrchr(entry, ',');
  if (comma == nullptr) return nullptr;
  const char* p = comma + 1;
  while (*p == ' ' || *p == '\t' || *p == ',') ++p;
  return p;
}

bool SameFileName(const std::string& a, const std::string& b) { return platform::SameScriptName(a, b); }

bool SplitFinishingCommand(const std::string& fileName, std::string& program, std::string& arguments) {
  // The program name ends at the first blank, or at its closing quote; the rest, blank included,
  // is the arguments.
  std::size_t end = 0;
  if (!fileName.empty() && fileName[0] == '"') {
    const std::size_t close = fileName.find('"', 1);
    if (close == std::string::npos) return false;
    program = fileName.substr(1, close - 1);
    end = close + 1;
  } else {
    end = fileName.find_first_of(" \t");
    if (end == std::string::npos) end = fileName.size();
    program = fileName.substr(0, end);
  }
  arguments = fileName.substr(end);
  return !program.empty();
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
    PayloadEntry entry{std::move(key), {}, EntryProblem::TooLong, {}};
    if (found == ScriptValue::Present) entry.problem = EntryName(value.c_str(), entry.name);
    if (entry.problem == EntryProblem::None) entry.source = EntrySourcePath(value.c_str());
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
    case EntryProblem::DeviceName: return entry.key + " names a device, not a file";
    case EntryProblem::BadCharacter: return entry.key + " holds a character that no file name may hold";
    case EntryProblem::BadEnding: return entry.key + " ends in a dot or a blank";
  }
  return entry.key;
}
