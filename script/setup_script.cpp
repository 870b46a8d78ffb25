// The setup-script model: one parse, then lookups with the "@" convention.
#include "script/setup_script.h"

ScriptValue SetupScript::Read(const char* section, const char* key, std::string& value) const {
  value.clear();
  const std::string* found = Find(section, key);
  if (found == nullptr || (!found->empty() && (*found)[0] == '@')) return ScriptValue::Missing;
  value = *found;
  // A value cut to fit would be read as another name, path or command: the caller refuses it.
  return value.size() > kMaxValueLength ? ScriptValue::TooLong : ScriptValue::Present;
}

std::string SetupScript::Text(const char* section, const char* key, const char* fallback) const {
  const std::string* found = Find(section, key);
  std::string text = found != nullptr ? *found : std::string(fallback);
  if (text.size() > kMaxValueLength) text.resize(kMaxValueLength);
  return text;
}
