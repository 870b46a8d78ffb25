// Access to INI files (the packing list and the setup script) with the profile semantics that
// Windows gives them, in one portable implementation, so that a packing list is read and edited
// byte for byte alike on Windows and on the native build:
// - section and key names match without regard to case, and blanks around names and values do not
//   count; a value in double quotes loses them; lines without "=" and lines starting with ";" are
//   not keys; the first of duplicate sections and keys wins; CRLF and LF line ends, with or without
//   a final one, are read alike;
// - a write replaces or deletes one key and keeps every other byte of the file; a key that does not
//   exist is added at the end of its section, a section that does not exist at the end of the file.
// A path is used as given, relative to the current directory.
#pragma once

#include <cstdint>
#include <string>

// Reads section/key from the INI file at `path` into `buffer` (capacity bytes, at most capacity - 1
// characters and a terminator). A missing file, section or key gives `defaultValue` (nullptr reads
// as ""). Returns the length of the whole value before it was cut to fit, so a result of `capacity`
// or more tells the caller that the value did not fit.
std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* path);

// Writes `value` under section/key (replacing the old value or adding the key and, if needed, the
// section), or deletes the key when `value` is nullptr. Creates the file when it does not exist
// (unless deleting). Returns false when the file cannot be read or written; it is then unchanged.
bool WriteProfileString(const char* section, const char* key, const char* value, const char* path);

// The same two operations on the file's text in memory; the file functions above use them.
// `found` (may be null) tells whether the key exists.
std::string ProfileLookup(const std::string& text, const char* section, const char* key, bool* found);
std::string ProfileEdit(const std::string& text, const char* section, const char* key, const char* value);
