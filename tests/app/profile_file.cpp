// The profile functions on files, for the tests: in-place edits as Windows makes them.
#include "tests/app/profile_file.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "script/ini.h"

namespace {

// A default value as the Windows functions treat it: trailing blanks and surrounding quotes go.
std::string DefaultValue(const char* defaultValue) {
  std::string value = defaultValue != nullptr ? defaultValue : "";
  while (!value.empty() && std::strchr(" \t\v\f", value.back()) != nullptr) value.pop_back();
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Replaces the file's old text by the new one, writing only from the first byte that differs, as
// Windows edits the file in place. When the file grows, the new end is written first and the file
// is cut back to its old length if that fails (a full disk): the old text is then untouched. Only
// after that is the changed middle overwritten, which needs no new space.
bool StoreText(const char* path, bool exists, const std::string& old, const std::string& text) {
  platform::File file;
  const platform::OpenMode mode = exists ? platform::OpenMode::ReadWrite : platform::OpenMode::CreateAlways;
  if (!platform::OpenFile(path, mode, file)) return false;
  std::size_t same = 0;
  while (same < old.size() && same < text.size() && old[same] == text[same]) ++same;
  const auto oldLength = static_cast<std::uint32_t>(old.size());
  if (text.size() > old.size()) {
    const std::size_t from = same > old.size() ? same : old.size();
    if (!platform::Seek(file, oldLength) ||
        !platform::WriteFile(file, text.data() + from, static_cast<std::uint32_t>(text.size() - from))) {
      platform::Truncate(file, oldLength);
      return false;
    }
  }
  const std::size_t middleEnd = text.size() < old.size() ? text.size() : old.size();
  if (same < middleEnd) {
    if (!platform::Seek(file, static_cast<std::uint32_t>(same)) ||
        !platform::WriteFile(file, text.data() + same, static_cast<std::uint32_t>(middleEnd - same))) {
      return false;
    }
  }
  if (text.size() < old.size()) return static_cast<bool>(platform::Truncate(file, static_cast<std::uint32_t>(text.size())));
  return true;
}

}  // namespace

std::uint32_t ReadProfileValue(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* path) {
  std::string value;
  bool found = false;
  std::string text;
  if (path != nullptr && ReadProfileText(path, text)) value = ProfileLookup(text, section, key, &found);
  if (!found) value = DefaultValue(defaultValue);
  if (buffer != nullptr && capacity > 0) {
    const std::size_t n = value.size() < capacity ? value.size() : capacity - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<std::uint32_t>(value.size());
}

bool WriteProfileValue(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || key == nullptr || path == nullptr) return false;
  if (!ProfileCanWrite(section, key, value)) return false;
  std::string text;
  const bool exists = platform::FileExists(path);
  if (!ReadProfileText(path, text)) {
    if (exists) return false;
    // Deleting from a file that does not exist leaves nothing to do, and creates nothing.
    if (value == nullptr) return true;
    text.clear();
  }
  const std::string edited = ProfileEdit(text, section, key, value);
  if (edited == text) return true;
  return StoreText(path, exists, text, edited);
}
