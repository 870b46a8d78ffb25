// qorpack init DIR: writes a starter packing list whose stub is the one installed with this qorpack,
// so that a first package can be built right after installing.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/commands.h"

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
    "; unpacked into the temporary folder. Its exit status 0 means done, 3010 done and a restart is\n"
    "; needed, anything else failed.\n"
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

const char kListTail[] =
    "\n\n"
    "; The user texts and error texts; replace \"My Product\" with the product's name.\n"
    "[ENU]\n"
    "Msg02=Welcome to\n"
    "Msg03=Unpacking files...\n"
    "Msg04=Installing My Product...\n"
    "Msg05=My Product is installed. Press Finish to close this window.\n"
    "Msg06=Press Next to install My Product.\n"
    "Msg07=< Back\n"
    "Msg08=Finish\n"
    "Msg09=Next >\n"
    "Msg10=Cancel\n"
    "Msg11=This wizard installs My Product on your computer.\n"
    "Msg12=Your computer must be restarted to finish the installation. Restart now?\n"
    "Msg13=My Product is updated. Press Finish to close this window.\n"
    "Msg14=This wizard updates My Product on your computer.\n"
    "Err02=The package is damaged. Please download it again.\n"
    "Err03=A file could not be read or written.\n"
    "Err04=The setup script of this package is incomplete.\n"
    "Err05=The package could not be unpacked.\n"
    "Err07=The installation program reported an error.\n"
    "Err08=The temporary folder cannot be written.\n"
    "Err09=You need administrator rights to install My Product.\n";

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

int CommandInit(int, char** argv) {
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
  const std::string text = std::string(kListHead) + StubPath(found) + kListTail;
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
