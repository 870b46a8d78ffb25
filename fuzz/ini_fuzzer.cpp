// Fuzz target of the INI access: lookups and edits on arbitrary text must not crash, the one-pass
// index answers every lookup as the text walk does, and an edit with sane names and value is read
// back as written.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/ini.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Names from the input's first line too, so odd names (blanks, brackets, NUL-cut) get looked up.
  const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  const std::string fromInput = firstLine.substr(0, 16);
  const char* sections[] = {"Cmd", "files", "", " Out ", "[x]", fromInput.c_str()};
  const char* keys[] = {"LANG", "File01", ";c", "", fromInput.c_str()};
  const ProfileIndex index(text);
  for (const char* section : sections) {
    for (const char* key : keys) {
      bool found = false;
      const std::string value = ProfileLookup(text, section, key, &found);
      const std::string* indexed = index.Find(section, key);
      Check(found == (indexed != nullptr) && (!found || *indexed == value));
      ProfileEdit(text, section, key, nullptr);
    }
  }
  // Sane names and values: no line breaks, no "=" or leading "[" in the key, a value without
  // blanks or quotes at its ends (those the reading would drop).
  const char* saneSections[] = {"Cmd", "FILES", "", "a]b"};
  const char* saneKeys[] = {"LANG", "file01", ";c"};
  const char* values[] = {"ENU", "", "a=b [c] \"d\" e"};
  for (const char* section : saneSections) {
    for (const char* key : saneKeys) {
      for (const char* value : values) {
        const std::string edited = ProfileEdit(text, section, key, value);
        bool found = false;
        Check(ProfileLookup(edited, section, key, &found) == value && found);
      }
    }
  }
  return 0;
}
