// The language sections of a setup script: the sections that Cmd/LANG lists, the rule that picks the
// one the user reads, and the texts shown from it. One LANG names one section, used as it always was;
// a list (LANG=DEU,FRA,ENU) lets one package speak to each user in the user's own language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "script/failure.h"
#include "script/setup_script.h"

// The texts of the page and of its restart question (Msg02 ... Msg14): the first section of a list
// must hold each of them, so that a text the chosen section lacks always has one to come from.
constexpr int kFirstPageText = 2;
constexpr int kLastPageText = 14;

// LANG's value as the sections it lists, in order: the value split at its commas, each name without
// the blanks and tabs around it (an empty name stays, for the check to refuse). A value without a
// comma is one section, taken as it is.
std::vector<std::string> SplitLanguageList(const std::string& lang);

// The list rules of the script's check, for a LANG that lists more than one section (one section is
// taken as it is): every name is a section of the script, none is empty or given twice (without
// regard to case), and the first holds every page text (present, not empty, not beginning with "@").
// Fails with code 4 and the first broken rule.
Failure CheckLanguageList(const SetupScript& script, const std::vector<std::string>& listed);

// Which of the `listed` sections (never empty) a user of the UI language `user` reads: the one named
// like the user's language (its abbreviation, without regard to case); else the first whose language
// has the user's primary language (`known[i]` is what the system knows of listed[i]; id 0 for a name
// it does not know); else the first. Returns its index.
std::size_t ChooseLanguage(const std::vector<std::string>& listed, const std::vector<platform::Language>& known,
                           const platform::Language& user);

// Where the texts that the installer shows come from.
struct LanguageChoice {
  std::string section;             // the section read first: LANG's one section, the chosen one of a
                                   // list, or "ENU" when LANG names none
  std::string first;               // with a list, its first section, which gives the texts `section`
                                   // lacks; empty otherwise
  std::uint32_t codePage = 0;      // the code page of `section`'s bytes; 0: the machine's ANSI code page
  std::uint32_t firstCodePage = 0; // the code page of `first`'s bytes
  std::string user;                // with a list, the user's language (its abbreviation), for the record
};

// The choice for `script`: with a list, ChooseLanguage for the user's UI language, each listed
// section read in the ANSI code page of its own language; otherwise LANG's section (or "ENU") in the
// machine's code page, as it always was. The installer's page, its question and its error boxes all
// take it from here, so they speak one language. With a list it asks the system, for every name.
LanguageChoice ScriptLanguage(const SetupScript& script);

// The text `key` as platform text. With one section: that section's value (cut to 259 characters),
// or "@" when the key is missing, as it always was. With a list, a text that the chosen section lacks
// (missing, empty, or beginning with "@") comes from the first section; "@" only when that lacks it
// too (never for a page text of a script the check accepted).
std::string LanguageText(const SetupScript& script, const LanguageChoice& choice, const char* key);
