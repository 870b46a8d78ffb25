// Reading the setup script through the INI access, with the "@" convention.
#include "app/script.h"

#include "app/ini.h"
#include "app/process_state.h"

ScriptValue ReadScriptValue(const char* section, const char* key, const char* defaultValue,
                            ScriptText& buffer, const char* path) {
  const std::uint32_t length =
      ReadProfileValue(section, key, defaultValue, buffer, sizeof buffer, path);
  if (IsMissing(buffer)) return ScriptValue::Missing;
  // A value cut to fit would be read as another name, path or command: the caller refuses it.
  if (length >= sizeof buffer) return ScriptValue::TooLong;
  return ScriptValue::Present;
}

void ReadLangText(const char* key, ScriptText& buffer) {
  ReadProfileValue(langSection, key, "@", buffer, sizeof buffer, scriptPath);
}
