// qorpack init [--lang LIST] DIR: writes a starter packing list whose stub is the one installed with
// this qorpack, so that a first package can be built right after installing; with --lang, its texts
// in each listed language.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/starter_texts.h"

namespace {

// The texts are those of the example package with its product name replaced: whoever edits the
// list finds every key that the installer reads, with a wording that is known to fit the page.
const char kListHead[] =
    "; Starter packing list written by qorpack init. Edit it, then build the package in this folder:\n"
    ";   qorpack build list.ini\n"
    "; Source paths are relative to the folder the build runs in. The build removes the [Files]\n"
    "; entries whose source file is missing from this file itself, with a warning in logfile.txt.\n"
    "; No value may begin with \"@\": such a value counts as missing.\n"
    "[Cmd]\n"
    "LANG=ENU\n"
    "; EDIT: the product's name, the caption of the installer page and of its messages.\n"
    "Title=My Product\n"
    "; EDIT: the finishing command: a file of [Files] with its arguments, run once every file is\n"
    "; unpacked into the temporary folder: a program (.exe, .com), an installer package (.msi, which\n"
    "; msiexec.exe installs: product.msi /qn) or a command script (.cmd, .bat, which cmd.exe runs). Its\n"
    "; exit status 0 means done, 3010 done and a restart is needed, 1641 done and the restart started,\n"
    "; anything else failed.\n"
    "FileName=setup.exe /quiet\n"
    "\n"
    "[Files]\n"
    "; EDIT: one file a line, File01 to File99 without a gap: the name in the temporary folder, a\n"
    "; comma, the source path. File01 must carry a version block: its version names the package.\n"
    "File01=setup.exe, setup.exe\n"
    "File02=readme.txt, readme.txt\n"
    "\n"
    "[Out]\n"
    "; EDIT: the package's file name; %s becomes the version tag of File01 (1.2.3.0 gives 1_02_03a).\n"
    "OutputName=MyProduct%s.exe\n"
    "\n"
    "[In]\n"
    "; The installer stub at the front of the package, as installed with qorpack.\n"
    "QorFileName=";

// Followed by the English texts of StarterLanguages().
const char kListTail[] =
    "\n\n"
    "; The user texts and error texts; replace \"My Product\" with the product's name.\n"
    "[ENU]\n";

// The language sections of a starter list for --lang: the note on how the installer reads them, then
// each section's texts in its own code page. Empty, with a message, when a text cannot be encoded.
std::string LanguageSections(const std::vector<const StarterLanguage*>& languages) {
  std::string text = "\n\n";
  if (languages.size() > 1) {
    text +=
        "; The user texts and error texts, one section for each language that LANG lists. The installer\n"
        "; shows the section of the user's Windows language, else one of the same primary language (DEU\n"
        "; for German of Switzerland), else the first; a text that the shown section lacks comes from the\n"
        "; first, which must hold every Msg text. Each section's texts are bytes in the ANSI code page of\n"
        "; the machines that its language targets, named above it: the installer reads each section in the\n"
        "; code page of its own language, whatever the machine's. Keep that code page when you edit a\n"
        "; section (this file is no UTF-8), and replace \"My Product\" with the product's name.\n";
  } else {
    text +=
        "; The user texts and error texts. They are bytes in the ANSI code page of the machines that the\n"
        "; package targets (the installer reads them in the machine's own code page): keep that code page\n"
        "; when you edit them, and replace \"My Product\" with the product's name.\n";
  }
  for (const StarterLanguage* language : languages) {
    std::string texts;
    if (!EncodeStarterTexts(*language, texts)) {
      std::fprintf(stderr, "qorpack init: the %s texts cannot be written in code page %u\n", language->section,
                   static_cast<unsigned>(language->codePage));
      return std::string();
    }
    text += "; " + std::string(language->name) + ", code page " + std::to_string(language->codePage) + ".\n[" +
            language->section + "]\n" + texts + (language == languages.back() ? "" : "\n");
  }
  return text;
}

// The languages that `list` names (comma-separated, without regard to case), each once and each one
// of StarterLanguages(); false with a message otherwise.
bool ReadLanguageOption(const std::string& list, std::vector<const StarterLanguage*>& languages) {
  std::string known;
  for (const StarterLanguage& language : StarterLanguages()) known += (known.empty() ? "" : ", ") + std::string(language.section);
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : name) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    const StarterLanguage* found = nullptr;
    for (const StarterLanguage& language : StarterLanguages()) {
      if (name == language.section) found = &language;
    }
    if (found == nullptr) {
      std::fprintf(stderr, "qorpack init: no starter texts for '%s' (there are: %s)\n", name.c_str(), known.c_str());
      return false;
    }
    for (const StarterLanguage* listed : languages) {
      if (listed == found) {
        std::fprintf(stderr, "qorpack init: --lang names %s twice\n", found->section);
        return false;
      }
    }
    languages.push_back(found);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

std::string OwnDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return std::string();
  path[length] = '\0';
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? std::string() : std::string(path, static_cast<std::size_t>(slash - path));
}

bool Canonical(const std::string& path, std::string& result) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return false;
  result = resolved;
  return true;
}

// The stub next to this qorpack: the installed layout wherever its prefix was put (cmake --install
// --prefix, a .deb, a .deb unpacked elsewhere), then the Windows build beside a build tree's
// qorpack, then the install location configured at build time even when nothing is there yet.
std::string StubPath(bool& found) {
  const std::string own = OwnDirectory();
  std::string stub;
  found = true;
  if (!own.empty() && (Canonical(own + "/" QOR_STUB_FROM_BIN, stub) ||
                       Canonical(own + "/" QOR_STUB_FROM_BUILD, stub))) {
    return stub;
  }
  found = false;
  return QOR_INSTALLED_STUB;
}

}  // namespace

int CommandInit(int argc, char** argv) {
  std::vector<const StarterLanguage*> languages;
  if (argc == 3 && std::strcmp(argv[0], "--lang") == 0) {
    if (!ReadLanguageOption(argv[1], languages)) return 2;
    argv += 2;
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: qorpack init [--lang LIST] DIR\n");
    return 2;
  }
  // Without --lang the starter holds the English texts alone, as it always did.
  std::string head = kListHead, tail = kListTail + std::string(StarterLanguages().front().texts);
  if (!languages.empty()) {
    std::string lang;
    for (const StarterLanguage* language : languages) lang += (lang.empty() ? "" : ",") + std::string(language->section);
    head.replace(head.find("LANG=ENU\n"), 9, "LANG=" + lang + "\n");
    if ((tail = LanguageSections(languages)).empty()) return 1;
  }
  const std::string directory = argv[0];
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    std::fprintf(stderr, "qorpack init: cannot create %s: %s\n", directory.c_str(), error.message().c_str());
    return 1;
  }
  const std::string list = directory + "/list.ini";
  const int fd = open(list.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      std::fprintf(stderr, "qorpack init: %s exists already; it is left as it is\n", list.c_str());
    } else {
      std::fprintf(stderr, "qorpack init: cannot create %s: %s\n", list.c_str(), std::strerror(errno));
    }
    return 1;
  }
  bool found = false;
  const std::string text = head + StubPath(found) + tail;
  bool written = false;
  if (std::FILE* out = fdopen(fd, "w")) {
    written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    written = std::fclose(out) == 0 && written;
  } else {
    close(fd);
  }
  if (!written) {
    std::fprintf(stderr, "qorpack init: cannot write %s\n", list.c_str());
    unlink(list.c_str());
    return 1;
  }
  if (!found) {
    std::fprintf(stderr, "qorpack init: note: the stub %s does not exist yet; install it or edit "
                         "QorFileName\n", QOR_INSTALLED_STUB);
  }
  std::printf("wrote %s\nedit Title, FileName, the [Files] entries and OutputName in it, then build the "
              "package there with: qorpack build list.ini\n", list.c_str());
  return 0;
}
