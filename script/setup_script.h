// The setup script (the packing list, in the builder) as one parsed model: read once from its bytes
// (the packing list's file, or the script segment decoded from a package) and then asked from
// memory. Values follow the INI layer's rules (script/ini.h) and the "@" convention: a value whose
// first character is "@" counts as missing, so no value may begin with it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "script/ini.h"

// The longest value the system uses whole: 259 characters. A longer name, path or command is
// refused, never cut into another meaning; a longer text that is only shown is cut to it.
constexpr std::size_t kMaxValueLength = 259;

enum class ScriptValue {
  Present,  // the value is there
  Missing,  // the key is missing, or its value begins with "@"
  TooLong,  // the value has more than kMaxValueLength characters; it must not be used as a name
};

class SetupScript {
 public:
  // An empty script: every key is missing.
  SetupScript() : index_(text_) {}
  // Parses `text` once; takes time linear in its size.
  explicit SetupScript(std::string text) : text_(std::move(text)), index_(text_) {}

  // The script's bytes, as stored in the package.
  const std::string& text() const { return text_; }

  // The value of section/key with the "@" convention. On Present `value` holds it, on TooLong its
  // whole text (for messages only), on Missing nothing.
  ScriptValue Read(const char* section, const char* key, std::string& value) const;

  // A text that is only shown: the value, or `fallback` when the key is missing, cut to
  // kMaxValueLength characters. A value that begins with "@" is shown as it is.
  std::string Text(const char* section, const char* key, const char* fallback = "@") const;

  // The raw lookup: the value, or null when the key is missing.
  const std::string* Find(const char* section, const char* key) const { return index_.Find(section, key); }
  // The names (in ASCII lower case) of the section's keys that hold a value.
  std::vector<std::string> KeyNames(const char* section) const { return index_.KeyNames(section); }
  // True when the script has the section, with or without keys.
  bool HasSection(const char* section) const { return index_.HasSection(section); }

 private:
  std::string text_;
  ProfileIndex index_;
};
