// The user's UI language and the system's locales, asked of Windows for choosing which section of a
// setup script the installer speaks.
#include <windows.h>

#include <cwchar>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

// The three-letter abbreviation and the ANSI code page of the locale `name`.
Language DescribeLocale(const wchar_t* name) {
  Language language;
  wchar_t abbreviation[16] = {};
  DWORD number = 0;
  if (GetLocaleInfoEx(name, LOCALE_SABBREVLANGNAME, abbreviation, 16) == 0 ||
      GetLocaleInfoEx(name, LOCALE_ILANGUAGE | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&number),
                      sizeof number / sizeof(wchar_t)) == 0) {
    return language;
  }
  language.id = static_cast<std::uint16_t>(number);
  language.abbreviation = Narrow(abbreviation, std::wcslen(abbreviation));
  if (GetLocaleInfoEx(name, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&number),
                      sizeof number / sizeof(wchar_t)) != 0) {
    language.ansiCodePage = number;
  }
  return language;
}

bool SameAbbreviation(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

struct Search {
  const std::string* abbreviation;
  Language found;
};

BOOL CALLBACK MatchLocale(LPWSTR name, DWORD, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  const Language language = DescribeLocale(name);
  if (language.id == 0 || !SameAbbreviation(language.abbreviation, *search.abbreviation)) return TRUE;
  search.found = language;
  return FALSE;
}

}  // namespace

Language UserLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (LCIDToLocaleName(locale, name, LOCALE_NAME_MAX_LENGTH, 0) == 0) return Language();
  return DescribeLocale(name);
}

Language FindLanguage(const std::string& abbreviation) {
  // Windows has no call from an abbreviation to its language: the specific locales are asked one by
  // one (a few hundred, once per install), the first that has it answers.
  Search search{&abbreviation, Language()};
  if (!abbreviation.empty()) {
    EnumSystemLocalesEx(MatchLocale, LOCALE_SPECIFICDATA, reinterpret_cast<LPARAM>(&search), nullptr);
  }
  return search.found;
}

}  // namespace platform
