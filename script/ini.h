// Access to INI files (the packing list and the setup script) with the profile semantics that
// Windows gives them, in one portable implementation, so that a packing list is read and edited
// byte for byte alike on Windows and on the native build:
// - section and key names match without regard to ASCII case, and blanks (space, tab, \v, \f)
//   around names and values do not count; a value in matching double or single quotes loses them;
//   the first of duplicate sections and keys wins (later ones are never read or written); keys
//   before any section belong to the section ""; CRLF, LF and CR line ends, with or without a
//   final one, are read alike; a UTF-8 byte order mark is skipped; a NUL byte ends a name or value;
// - a line starting with ";" is the key ";..." (nobody asks for it), and a line without "=" is a
//   key without a value: it reads as missing and hides later keys of its name;
// - an edit replaces or deletes one key and keeps every other byte of the text; a key that does not
//   exist is added after the last key line of its section, a section that does not exist at the
//   end of the text, each line ending in "\r\n".
// The builder edits the packing list in memory and stores it whole; a path is used as given,
// relative to the current directory.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

// True when section/key and `value` (null: a delete) can be written so that the text gives them back
// as written: no line break anywhere, a key that is not empty, holds no "=" and does not start
// with "[". ProfileEdit refuses every other write.
bool ProfileCanWrite(const char* section, const char* key, const char* value);

// Reads the whole plain file at `path` as it is, bytes unchanged; fails with the system's reason when
// it cannot be read or is no plain file (a folder, a pipe, a device).
platform::Status ReadProfileText(const char* path, std::string& text);

// The profile operations on a text in memory. ProfileLookup gives the value (quotes removed, not
// cut) or "" when the key is missing; `found` (may be null) tells which. ProfileEdit returns the
// edited text, or the text unchanged when there is nothing to do or the write is refused as above.
std::string ProfileLookup(const std::string& text, const char* section, const char* key, bool* found);
std::string ProfileEdit(const std::string& text, const char* section, const char* key, const char* value);

// Every section and key of a text, found in one pass over it, so that a script of any size costs
// one parse and each later lookup a hash: Find answers exactly as ProfileLookup does on the same
// text, for every section and key name.
class ProfileIndex {
 public:
  explicit ProfileIndex(const std::string& text);

  // The value (quotes removed) of section/key, or null when the key is missing (a key line without
  // "=" counts as missing). The pointer lives as long as the index.
  const std::string* Find(const char* section, const char* key) const;
  // The names of the section's keys that Find can reach, in ASCII lower case, in no set order.
  std::vector<std::string> KeyNames(const char* section) const;
  // True when the text has a line that opens the section (even one without keys).
  bool HasSection(const char* section) const;

 private:
  struct Key {
    bool hasValue;
    std::string value;
  };
  using Section = std::unordered_map<std::string, Key>;
  // Names in ASCII lower case, as they compare.
  std::unordered_map<std::string, Section> sections_;
};
