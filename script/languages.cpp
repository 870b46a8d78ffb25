// LANG lists: splitting, the check's rules, the choice of the user's section and its texts.
#include "script/languages.h"

#include <cstdio>

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Section names compare as the INI layer compares them: without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string PageTextKey(int number) {
  char key[8];
  std::snprintf(key, sizeof key, "Msg%02d", number);
  return key;
}

// A value that a text can be shown from: present, not empty, not beginning with "@".
const std::string* ShownValue(const SetupScript& script, const std::string& section, const char* key) {
  const std::string* value = script.Find(section.c_str(), key);
  return value != nullptr && !value->empty() && (*value)[0] != '@' ? value : nullptr;
}

}  // namespace

std::vector<std::string> SplitLanguageList(const std::string& lang) {
  if (lang.find(',') == std::string::npos) return {lang};
  std::vector<std::string> listed;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = lang.find(',', start);
    std::string name = lang.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t first = name.find_first_not_of(" \t");
    name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(" \t") - first + 1);
    listed.push_back(std::move(name));
    if (comma == std::string::npos) return listed;
    start = comma + 1;
  }
}

Failure CheckLanguageList(const SetupScript& script, const std::vector<std::string>& listed) {
  if (listed.size() < 2) return Failure();
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const std::string& name = listed[i];
    if (name.empty()) return Fail(kFatalScript, "LANG lists an empty section name");
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(listed[j], name)) return Fail(kFatalScript, "LANG lists " + name + " twice");
    }
    if (!script.HasSection(name.c_str())) {
      return Fail(kFatalScript, "LANG lists " + name + ", a section the script does not have");
    }
  }
  // The first section stands in for every text another section lacks: with all of them there, the
  // page never shows "@" or a blank, whichever section the user gets.
  for (int number = kFirstPageText; number <= kLastPageText; ++number) {
    const std::string key = PageTextKey(number);
    if (ShownValue(script, listed.front(), key.c_str()) == nullptr) {
      return Fail(kFatalScript, "the first section that LANG lists, " + listed.front() + ", has no text for " + key);
    }
  }
  return Failure();
}

std::size_t ChooseLanguage(const std::vector<std::string>& listed, const std::vector<platform::Language>& known,
                           const platform::Language& user) {
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (!user.abbreviation.empty() && SameName(listed[i], user.abbreviation)) return i;
  }
  // The low ten bits of a language identifier are its primary language: German of Switzerland
  // (DES) reads German (DEU).
  constexpr std::uint16_t kPrimary = 0x3FF;
  if (user.id != 0) {
    for (std::size_t i = 0; i < listed.size() && i < known.size(); ++i) {
      if (known[i].id != 0 && (known[i].id & kPrimary) == (user.id & kPrimary)) return i;
    }
  }
  return 0;
}

LanguageChoice ScriptLanguage(const SetupScript& script) {
  LanguageChoice choice;
  std::string lang;
  if (script.Read("Cmd", "LANG", lang) != ScriptValue::Present) {
    choice.section = "ENU";
    return choice;
  }
  std::vector<std::string> listed;
  for (std::string& name : SplitLanguageList(lang)) {
    // A list the check refuses still gives its error box a language: empty names are passed over.
    if (!name.empty()) listed.push_back(std::move(name));
  }
  if (lang.find(',') == std::string::npos || listed.empty()) {
    choice.section = listed.empty() ? "ENU" : lang;
    return choice;
  }
  const platform::Language user = platform::UserLanguage();
  std::vector<platform::Language> known;
  for (const std::string& name : listed) known.push_back(platform::FindLanguage(name));
  const std::size_t chosen = ChooseLanguage(listed, known, user);
  choice.section = listed[chosen];
  choice.codePage = known[chosen].ansiCodePage;
  choice.first = listed.front();
  choice.firstCodePage = known.front().ansiCodePage;
  choice.user = user.abbreviation;
  return choice;
}

std::string LanguageText(const SetupScript& script, const LanguageChoice& choice, const char* key) {
  if (choice.first.empty()) return platform::FromScriptText(script.Text(choice.section.c_str(), key));
  const std::string* value = ShownValue(script, choice.section, key);
  std::uint32_t codePage = choice.codePage;
  if (value == nullptr) {
    value = ShownValue(script, choice.first, key);
    codePage = choice.firstCodePage;
  }
  if (value == nullptr) return "@";
  return platform::FromScriptText(value->size() > kMaxValueLength ? value->substr(0, kMaxValueLength) : *value,
                                  codePage);
}
