// Placeholder until the INI access lands: every read gives the default, every write fails.
#include "app/ini.h"

#include <cstring>

std::uint32_t ReadProfileString(const char*, const char*, const char* defaultValue, char* buffer,
                                std::uint32_t capacity, const char*) {
  const char* value = defaultValue ? defaultValue : "";
  const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(value));
  const std::uint32_t n = length < capacity ? length : capacity - 1;
  std::memcpy(buffer, value, n);
  buffer[n] = '\0';
  return length;
}

bool WriteProfileString(const char*, const char*, const char*, const char*) { return false; }
