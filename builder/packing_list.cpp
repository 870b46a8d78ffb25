// Packing-list path, entry splitting and pruning.
#include "builder/packing_list.h"

#include <cstdio>
#include <cstring>

#include "app/fatal.h"
#include "app/ini.h"
#include "app/script.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char kNoComma[] = "No comma in input filename directive. Check the .INI syntax.\r\n";
const char kValueTooLong[] =
    "Value too long (259 characters at most) at %s. Check the packing list syntax.\r\n";

void EntryKey(int number, char (&key)[8]) { std::snprintf(key, sizeof key, "File%02d", number); }

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
  if (length >= sizeof path) return ListPathResult::TooLong;
  std::memcpy(path, p, length);
  path[length] = '\0';
  return ListPathResult::Ok;
}

const char* EntrySourcePath(const char* entry) {
  const char* comma = std::strrchr(entry, ',');
  if (comma == nullptr) return nullptr;
  const char* p = comma + 1;
  while (*p == ' ' || *p == '\t' || *p == ',') ++p;
  return p;
}

bool IsAbsolutePath(const char* path) {
  if (path[0] == '\\' || path[0] == '/') return true;
  const char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

bool ReadFilesEntry(BuildLog& log, const char* listPath, int number, char (&value)[platform::kPathCapacity]) {
  char key[8];
  EntryKey(number, key);
  switch (ReadScriptValue("Files", key, "@", value, listPath)) {
    case ScriptValue::Present: return true;
    case ScriptValue::Missing: return false;
    case ScriptValue::TooLong: break;
  }
  char where[16];
  std::snprintf(where, sizeof where, "Files/%s", key);
  FailBuild(log, kFatalScript, listPath, kValueTooLong, where);
}

const char* RequireSourcePath(BuildLog& log, const char* listPath, const char* value, const char* noCommaText) {
  const char* source = EntrySourcePath(value);
  if (source == nullptr) FailBuild(log, kFatalScript, listPath, noCommaText);
  return source;
}

void PrunePackingList(BuildLog& log, const char* listPath) {
  static const char kWriteFailed[] = "Write to  %s failed, exiting.\r\n";
  constexpr int kLastEntry = 99;
  char value[platform::kPathCapacity];
  for (int k = 1; k <= kLastEntry; ++k) {
    // The same k is examined again after a removal: it then holds the next entry.
    for (;;) {
      if (!ReadFilesEntry(log, listPath, k, value)) return;
      const char* source = RequireSourcePath(log, listPath, value, kNoComma);
      if (platform::FileExists(source)) break;
      WriteLogLine(log, "Warning: %s not found, removing from .ini file\r\n", source);
      // Each later entry moves down by one; the last one's key goes.
      for (int i = k;; ++i) {
        char key[8];
        EntryKey(i, key);
        char next[platform::kPathCapacity];
        if (i == kLastEntry || !ReadFilesEntry(log, listPath, i + 1, next)) {
          if (!WriteProfileValue("Files", key, nullptr, listPath)) {
            FailBuild(log, kFatalScript, listPath, kWriteFailed, listPath);
          }
          break;
        }
        if (!WriteProfileValue("Files", key, next, listPath)) {
          FailBuild(log, kFatalScript, listPath, kWriteFailed, listPath);
        }
      }
    }
  }
}
