// The setup script and packing list (one INI file in two uses): reading values with the "@"
// convention, where a value whose first character is "@" counts as missing, and the user texts of
// the language section.
#pragma once

#include <cstdint>

#include "platform/platform.h"

using ScriptText = char[platform::kPathCapacity];

enum class ScriptValue {
  Present,  // the buffer holds the value
  Missing,  // the buffer starts with "@": the key is missing (or its value begins with "@")
  TooLong,  // the value has 260 characters or more; the buffer holds its first 259, which the
            // caller must not use as if they were the whole value
};

// Reads section/key from the script at `path` with the given default (every read passes "@" but
// two, see the callers) into a 260-byte buffer.
ScriptValue ReadScriptValue(const char* section, const char* key, const char* defaultValue,
                            ScriptText& buffer, const char* path);

// True when a value read with the default "@" counts as missing.
inline bool IsMissing(const char* value) { return value[0] == '@'; }

// Reads a user text (Msg02 ... Msg14) from the section named by `langSection` in the installer's
// script `scriptPath`, default "@". A text too long for the buffer is cut to 259 characters: it is
// only shown, never used as a name.
void ReadLangText(const char* key, ScriptText& buffer);
