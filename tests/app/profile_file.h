// The profile functions on files as Windows offers them, for the tests that hold the portable INI
// access against them: reads and in-place writes of one key, built on the text operations of
// script/ini.h. The product reads and stores whole texts and needs none of this.
#pragma once

#include <cstdint>

// Reads section/key from the INI file at `path` into `buffer` (capacity bytes, at most capacity - 1
// characters and a terminator; capacity 0 writes nothing). A missing or unreadable file, section or
// key gives `defaultValue` (nullptr reads as ""; trailing blanks and quotes are dropped from it as
// from a value). Returns the length of the whole value before it was cut to fit, so a result of
// `capacity` or more tells the caller that the value did not fit.
std::uint32_t ReadProfileValue(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* path);

// Writes `value` under section/key (replacing the old value or adding the key and, if needed, the
// section), or deletes the key when `value` is nullptr. Creates the file when it does not exist
// (unless deleting, which then succeeds). Returns false, leaving the file unchanged, when the file
// cannot be read or written, or when the names or the value could not be read back as written: a
// line break anywhere, an empty key, a key holding "=" or starting with "[".
bool WriteProfileValue(const char* section, const char* key, const char* value, const char* path);
