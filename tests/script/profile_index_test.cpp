// The parsed script's one-pass index against the text walk of the INI layer, on the tricky INI files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "script/ini.h"

namespace {

namespace fs = std::filesystem;

// Every name-like piece of the text (section names, the text before "=" or a line's whole text),
// with blanks and case variants: what a lookup could ask for.
std::set<std::string> NamesIn(const std::string& text) {
  std::set<std::string> names = {"", "Cmd", "FILES", "File01", " LANG ", ";c", "[x]"};
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::string section = line.size() > 1 ? line.substr(1, line.rfind(']') - 1) : std::string();
    for (const std::string& piece : {line, line.substr(0, line.find('=')), section}) {
      const std::string cut = piece.substr(0, piece.find('\0'));
      names.insert(cut);
      std::string upper = cut;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      names.insert(upper);
    }
    start = end + 1;
  }
  return names;
}

TEST(ProfileIndexTest, AnswersAsTheTextWalkOnEveryCorpusFile) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(QOR_INI_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const ProfileIndex index(text);
    const std::set<std::string> names = NamesIn(text);
    for (const std::string& section : names) {
      for (const std::string& key : names) {
        bool found = false;
        const std::string value = ProfileLookup(text, section.c_str(), key.c_str(), &found);
        const std::string* indexed = index.Find(section.c_str(), key.c_str());
        ASSERT_EQ(found, indexed != nullptr) << entry.path() << " [" << section << "] " << key;
        if (found) {
          ASSERT_EQ(*indexed, value) << entry.path() << " [" << section << "] " << key;
        }
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 1000);
}

}  // namespace
