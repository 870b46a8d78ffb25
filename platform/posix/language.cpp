// Languages natively: no system here tells a Windows language, so the user reads English (United
// States), the one language known.
#include "platform/platform.h"

namespace platform {

namespace {

Language English() {
  Language language;
  language.id = 0x0409;
  language.abbreviation = "ENU";
  language.ansiCodePage = 1252;
  return language;
}

}  // namespace

Language UserLanguage() { return English(); }

Language FindLanguage(const std::string& abbreviation) {
  const bool english = abbreviation.size() == 3 && (abbreviation[0] | 0x20) == 'e' && (abbreviation[1] | 0x20) == 'n' &&
                       (abbreviation[2] | 0x20) == 'u';
  return english ? English() : Language();
}

}  // namespace platform
