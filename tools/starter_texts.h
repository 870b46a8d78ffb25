// The installer page's texts that qorpack init writes into a starter packing list, in every language
// it has them for: the product's name is "My Product", for the author to replace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StarterLanguage {
  const char* section;         // the section's name: the language's three-letter abbreviation
  const char* name;            // the language, in English
  std::uint32_t codePage;      // the ANSI code page of the machines it targets
  const char* encoding;        // that code page's name for iconv
  const char* texts;           // the section's lines (Msg02 ... Err09), UTF-8, each ending in "\n"
};

// ENU, DEU, FRA, ESP, ITA, PTB, JPN, CHS and RUS, in that order.
const std::vector<StarterLanguage>& StarterLanguages();

// `language`'s lines in its own code page; false (with `text` empty) when the conversion fails.
bool EncodeStarterTexts(const StarterLanguage& language, std::string& text);
