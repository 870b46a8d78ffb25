// Packing-list path, entry splitting and pruning.
#include "builder/packing_list.h"

#include <cstdio>
#include <cstring>

#include <vector>

#include "builder/build_files.h"
#include "script/ini.h"
#include "script/payload_list.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char kWriteFailed[] = "Write to  %s failed, exiting.\r\n";
// qorpack build --strict: a CI build wants a missing source to stop it, not a smaller package.
const char kStrictMissing[] = "Missing source: %s. A strict build fails rather than remove the entry.\r\n";
const char kNoComma[] = "No comma in input filename directive. Check the .INI syntax.\r\n";
const char kValueTooLong[] =
    "Value too long (259 characters at most) at %s. Check the packing list syntax.\r\n";

}  // namespace

ListPathResult PackingListPath(const char* argumentText, char (&path)[platform::kPathCapacity]) {
  path[0] = '\0';
  const char* p = argumentText;
  // The switch word: "/m", or anything longer that starts with it ("/make list.ini").
  while (*p != '\0' && !IsBlank(*p)) ++p;
  while (IsBlank(*p)) ++p;
  const char* end = nullptr;
  if (*p == '"') {
    ++p;
    end = std::strchr(p, '"');
    if (end == nullptr) end = p + std::strlen(p);
  } else {
    end = p + std::strlen(p);
    while (end > p && IsBlank(end[-1])) --end;
  }
  const std::size_t length = static_cast<std::size_t>(end - p);
  if (length >= sizeof path || !platform::PathFits(std::string(p, length))) return ListPathResult::TooLong;
  std::memcpy(path, p, length);
  path[length] = '\0';
  return ListPathResult::Ok;
}

bool IsAbsolutePath(const char* path) {
  if (path[0] == '\\' || path[0] == '/') return true;
  const char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

Failure ReadFilesEntry(const SetupScript& list, int number, std::string& value, bool& present) {
  const std::string key = PayloadKey(number);
  switch (list.Read("Files", key.c_str(), value)) {
    case ScriptValue::Present: present = true; return Failure();
    case ScriptValue::Missing: present = false; return Failure();
    case ScriptValue::TooLong: break;
  }
  return BuildFailure(kFatalScript, kValueTooLong, ("Files/" + key).c_str());
}

Failure RequireSourcePath(const std::string& value, const char* noCommaText, const char*& source) {
  source = EntrySourcePath(value.c_str());
  if (source == nullptr) return BuildFailure(kFatalScript, noCommaText);
  return Failure();
}

Failure PrunePackingList(BuildLog& log, const char* listPath, const SetupScript& list, std::string& pruned,
                         bool strict) {
  pruned = list.text();
  std::vector<std::string> values;
  std::vector<std::string> kept;
  std::size_t firstDropped = 0;
  for (int k = 1; k <= kLastPayloadEntry; ++k) {
    std::string value;
    bool present = false;
    if (Failure failure = ReadFilesEntry(list, k, value, present)) return failure;
    if (!present) break;
    const char* source = nullptr;
    if (Failure failure = RequireSourcePath(value, kNoComma, source)) return failure;
    values.push_back(value);
    const std::string path = platform::FromScriptText(source);
    const platform::FileKind kind = KindOfPath(path.c_str());
    if (kind == platform::FileKind::Folder || kind == platform::FileKind::Other) {
      return NotAFile(kFatalScript, "The source of " + PayloadKey(k) + " (" + path + ")", kind);
    }
    if (kind == platform::FileKind::Regular) {
      kept.push_back(value);
      continue;
    }
    if (strict) return BuildFailure(kFatalScript, kStrictMissing, (path + " (" + PayloadKey(k) + ")").c_str());
    WriteLogLine(log, FormatLogLine("Warning: %s not found, removing from .ini file\r\n", path.c_str()));
    if (firstDropped == 0) firstDropped = values.size();
  }
  if (firstDropped == 0) return Failure();
  // Each entry from the first dropped one on takes the value of the next kept one; the keys left at
  // the end go. The key lines stay where they are: only their values change, as an editor that
  // moves each entry down one by one would leave them.
  for (std::size_t n = firstDropped; n <= values.size(); ++n) {
    const std::string key = PayloadKey(static_cast<int>(n));
    const char* value = n <= kept.size() ? kept[n - 1].c_str() : nullptr;
    const std::string edited = ProfileEdit(pruned, "Files", key.c_str(), value);
    if (edited == pruned && (value == nullptr || value != values[n - 1])) {
      return BuildFailure(kFatalScript, kWriteFailed, listPath);
    }
    pruned = edited;
  }
  return Failure();
}

platform::Status StorePackingList(const char* path, const std::string& text) {
  platform::Replacement list;
  if (const platform::Status begun = list.Begin(path); !begun) return begun;
  if (!text.empty()) {
    if (const platform::Status written =
            platform::WriteFile(list.file, text.data(), static_cast<std::uint32_t>(text.size()));
        !written) {
      return written;
    }
  }
  return list.Commit();
}
