// qorpack: builds and reads QorEngineUpdate packages on the build machine, and runs the implode
// codec on standard input and output.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

const Command kCommands[] = {
    {"build", CommandBuild, "build LIST          build the package that the packing list LIST describes"},
    {"/m", CommandBuild, nullptr},
    {"list", CommandList, "list PKG            show the pieces of a package"},
    {"verify", CommandVerify, "verify PKG          check the checksum and that every piece decodes"},
    {"extract", CommandExtract, "extract PKG DIR     write the setup script and the payload into DIR"},
    {"implode", CommandImplode, "implode [--ascii] [--dict 1024|2048|4096]   compress stdin to stdout"},
    {"explode", CommandExplode, "explode             decompress stdin to stdout"},
};

int Usage() {
  std::fprintf(stderr, "usage: qorpack COMMAND ...\n");
  for (const Command& command : kCommands) {
    if (command.usage != nullptr) std::fprintf(stderr, "  qorpack %s\n", command.usage);
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0 ||
        (std::strcmp(command.name, "/m") == 0 && std::strcmp(argv[1], "/M") == 0)) {
      return command.run(argc - 2, argv + 2);
    }
  }
  std::fprintf(stderr, "qorpack: unknown command '%s'\n", argv[1]);
  return Usage();
}
