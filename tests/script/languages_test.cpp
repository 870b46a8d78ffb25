// LANG lists: how a value splits into sections, which section a user's UI language picks, and where
// each shown text comes from.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "script/languages.h"

namespace {

// The languages of a small system, as Windows names them.
platform::Language Known(const std::string& abbreviation) {
  static const std::map<std::string, std::uint16_t> kIds = {
      {"ENU", 0x0409}, {"ENG", 0x0809}, {"DEU", 0x0407}, {"DES", 0x0807}, {"FRA", 0x040C}, {"FRB", 0x080C},
      {"PTB", 0x0416}, {"PTG", 0x0816}, {"JPN", 0x0411}, {"CHS", 0x0804}, {"CHT", 0x0404}, {"RUS", 0x0419}};
  std::string upper = abbreviation;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  platform::Language language;
  const auto found = kIds.find(upper);
  if (found == kIds.end()) return language;
  language.id = found->second;
  language.abbreviation = found->first;
  return language;
}

TEST(Languages, ListsSplitAtCommas) {
  const struct {
    const char* lang;
    std::vector<std::string> listed;
  } cases[] = {
      {"ENU", {"ENU"}},
      {"My Texts", {"My Texts"}},  // one name is taken as it is
      {"DEU,FRA,ENU", {"DEU", "FRA", "ENU"}},
      {"DEU , \tFRA,ENU ", {"DEU", "FRA", "ENU"}},
      {"DEU,,ENU", {"DEU", "", "ENU"}},
      {"DEU,", {"DEU", ""}},
      {",", {"", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLanguageList(c.lang), c.listed) << c.lang;
}

TEST(Languages, TheUsersLanguageThenItsPrimaryLanguageThenTheFirst) {
  const struct {
    const char* lang;
    const char* user;  // the user's UI language; "" for one the system cannot name
    const char* chosen;
  } cases[] = {
      {"DEU,FRA,ENU", "DEU", "DEU"},
      {"DEU,FRA,ENU", "FRA", "FRA"},
      {"DEU,FRA,ENU", "ENU", "ENU"},
      {"DEU,FRA,ENU", "DES", "DEU"},  // German of Switzerland reads German
      {"DEU,FRA,ENU", "FRB", "FRA"},
      {"DEU,FRA,ENU", "ENG", "ENU"},
      {"DEU,FRA,ENU", "JPN", "DEU"},  // no listed match: the first
      {"DEU,FRA,ENU", "RUS", "DEU"},
      {"FRA,deu", "DEU", "deu"},      // names match without regard to case
      {"PTG,PTB", "PTB", "PTB"},      // the user's own language before an earlier one of its primary
      {"PTG,ENU", "PTB", "PTG"},
      {"CHT,CHS", "CHS", "CHS"},
      {"CHT,ENU", "CHS", "CHT"},
      {"XYZ,DEU", "DES", "DEU"},      // a name the system does not know matches only by name
      {"XYZ,ENU", "JPN", "XYZ"},
      {"TST,ENU", "", "TST"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> listed = SplitLanguageList(c.lang);
    std::vector<platform::Language> known;
    for (const std::string& name : listed) known.push_back(Known(name));
    EXPECT_EQ(listed[ChooseLanguage(listed, known, Known(c.user))], c.chosen) << c.lang << " for " << c.user;
  }
}

TEST(Languages, ATextTheChosenSectionLacksComesFromTheFirst) {
  const SetupScript script(
      "[DEU]\r\nMsg05=Fertig\r\nMsg06=Weiter\r\nMsg10=Abbrechen\r\nMsg11=" + std::string(300, 'd') + "\r\n"
      "[FRA]\r\nMsg05=\r\nMsg06=@plus tard\r\nMsg09=Suivant\r\nErr07=@\r\n");
  LanguageChoice list;
  list.section = "FRA";
  list.first = "DEU";
  LanguageChoice single;
  single.section = "FRA";
  const struct {
    const LanguageChoice& choice;
    const char* key;
    std::string shown;
  } cases[] = {
      {list, "Msg09", "Suivant"},
      {list, "Msg10", "Abbrechen"},            // missing
      {list, "Msg05", "Fertig"},               // empty
      {list, "Msg06", "Weiter"},               // "@": missing
      {list, "Msg11", std::string(259, 'd')},  // cut to 259 characters, as every shown text
      {list, "Err07", "@"},                    // lacking in both
      {single, "Msg10", "@"},                  // one section: as it always was
      {single, "Msg05", ""},
      {single, "Msg06", "@plus tard"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LanguageText(script, c.choice, c.key), c.shown) << c.choice.section << "/" << c.key << " first "
                                                               << c.choice.first;
  }
}

// Natively the user reads ENU, the one language the native side knows.
TEST(Languages, TheScriptsChoiceNatively) {
  const struct {
    const char* cmd;
    const char* section;
    const char* first;
  } cases[] = {
      {"", "ENU", ""},
      {"LANG=FRA\r\n", "FRA", ""},
      {"LANG=@FRA\r\n", "ENU", ""},
      {"LANG=DEU,FRA,ENU\r\n", "ENU", "DEU"},
      {"LANG=deu, enu\r\n", "enu", "deu"},
      {"LANG=DEU,FRA\r\n", "DEU", "DEU"},
      {"LANG=,DEU,\r\n", "DEU", "DEU"},  // refused by the check; its error box still has a language
      {"LANG=,\r\n", "ENU", ""},
  };
  for (const auto& c : cases) {
    const LanguageChoice choice = ScriptLanguage(SetupScript(std::string("[Cmd]\r\n") + c.cmd));
    EXPECT_EQ(choice.section, c.section) << c.cmd;
    EXPECT_EQ(choice.first, c.first) << c.cmd;
  }
}

}  // namespace
