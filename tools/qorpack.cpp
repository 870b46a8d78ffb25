// qorpack: builds and reads QorEngineUpdate packages on the build machine, writes a starter packing
// list, and runs the implode codec on standard input and output. This file is the dispatcher: help,
// version, and the argument counts that every command shares.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

// Exit statuses of every command: scripts tell a damaged package from a mistyped command line.
constexpr int kExitUsage = 2;
constexpr int kOwnCheck = -1;

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  int args;              // kOwnCheck: the command checks its arguments itself, exit status 2
  const char* synopsis;  // nullptr: an alias that help does not list
  const char* summary;
  const char* details;
};

const Command kCommands[] = {
    {"build", CommandBuild, kOwnCheck, "build [OPTION]... LIST", "build the package that the packing list LIST describes",
     "Reads the packing list LIST and writes the package that it names in [Out] OutputName, with the\n"
     "stub named in [In] QorFileName at its front. Entries of [Files] whose source file is missing are\n"
     "removed from LIST itself, with a warning. The build log goes to logfile.txt in the current\n"
     "directory and to standard error. Paths in LIST are relative to the current directory; '\\' is a\n"
     "separator and the case of a name need not match. The same as QorEngineUpdate.exe /m LIST.\n"
     "-j N compresses on N threads (default: one per core); the package is the same bytes for any N,\n"
     "and memory stays below about 36 MiB of waiting compressed files (larger files wait in temporary\n"
     "files beside the package).\n"
     "Options: -j N, --stub PATH, --output PATH, --depfile FILE, --strict, --quiet, --json.\n"
     "--stub PATH uses the stub PATH instead of [In] QorFileName; --output PATH writes the package as\n"
     "PATH instead of the stamped OutputName (which LIST must still hold). LIST is stored unchanged.\n"
     "--depfile FILE (with --output) then writes a make rule naming the package and every file read.\n"
     "SOURCE_DATE_EPOCH, when set, is the latest time stored in the package (a file's later time is\n"
     "replaced by it), so that the same sources give the same package anywhere.\n"
     "--strict fails the build when a source is missing or cannot be read, naming it, before anything\n"
     "is written: no package, no build log, and LIST is left as it is.\n"
     "A good build prints one line on standard output: the package's path, its size in bytes and its\n"
     "number of pieces (the setup script and each payload file); --quiet drops it. --json prints one\n"
     "JSON object instead: output, size, pieces (name, source, packed, size, time) and warnings.\n"
     "Also: qorpack /m LIST.\n"},
    {"/m", CommandBuild, kOwnCheck, nullptr, nullptr, nullptr},
    {"init", CommandInit, kOwnCheck, "init [--lang LIST] DIR", "write a starter packing list DIR/list.ini",
     "Writes DIR/list.ini (creating DIR when needed): a packing list with the English user and error\n"
     "texts whose [In] QorFileName names the installed stub. An existing DIR/list.ini is left alone.\n"
     "Edit Title, FileName, the [Files] entries and OutputName, then run qorpack build list.ini in DIR.\n"
     "--lang LIST writes LANG=LIST and a section of texts for each listed language, in its own code\n"
     "page: the installer shows the user's. LIST is comma-separated, from ENU, DEU, FRA, ESP, ITA, PTB,\n"
     "JPN, CHS and RUS (--lang DEU,ENU).\n"},
    {"list", CommandList, kOwnCheck, "list [--json] PKG", "show the pieces of a package",
     "Prints every piece of the package PKG (the stub, the setup script, each payload file) with its\n"
     "packed and unpacked size and stored time, then the title, the finishing command as written, the\n"
     "command line the installer runs for it (runs:, with the extraction and system folders as\n"
     "placeholders), the language sections that LANG lists, and whether the package is signed. A\n"
     "checksum that does not match is reported, and the pieces are shown anyway.\n"
     "--json prints the same as one JSON object (package, checksum, signed, certificateTable, stub,\n"
     "title, finishingCommand, unreadBytes, runs, commandScript, languages, pieces with name, packed,\n"
     "size and time). Times are ISO 8601 UTC; the script's texts are decoded from Windows-1252.\n"},
    {"verify", CommandVerify, kOwnCheck, "verify [--json] PKG", "check the checksum, signatures and that every piece decodes",
     "Checks the checksum of PKG and decodes the setup script and every payload file, as the installer\n"
     "would, and tells whether the package is signed and how large its certificate table is. Every\n"
     "signature's digest, nested ones included, must be that of the package as it is (\"the signature\n"
     "does not match the package\" otherwise); a line per signature gives its signer, digest algorithm,\n"
     "timestamp and verdict. Who signed is not judged. Exit status 0 when all of it is sound, 1\n"
     "otherwise.\n"
     "--json prints one JSON object instead, also for a package that is not sound: package, verdict\n"
     "(sound, refused or failed), code, reason, files, unreadBytes, signed, certificateTable and\n"
     "signatures (subject, digestAlgorithm, timestamped, matches, nestedIn).\n"},
    {"extract", CommandExtract, 2, "extract PKG DIR", "write the setup script and the payload into DIR",
     "Writes SetupQor.ini and every payload file of PKG into the directory DIR, created when missing\n"
     "(with the folders above it), with their stored times, as the installer writes them into its\n"
     "extraction folder.\n"},
    {"implode", CommandImplode, kOwnCheck, "implode [--ascii] [--dict 1024|2048|4096]", "compress stdin to stdout",
     "Compresses standard input to standard output with the implode codec. --ascii codes literals\n"
     "with the fixed text table; --dict sets the dictionary size (4096 by default).\n"},
    {"explode", CommandExplode, kOwnCheck, "explode", "decompress stdin to stdout",
     "Decompresses an implode stream from standard input to standard output.\n"},
};

const char kExitStatuses[] =
    "Exit status: 0 done, 1 failed (a damaged package, a file that cannot be read or written),\n"
    "2 wrong usage. A failed build ends with 255, the -1 of QorEngineUpdate.exe /m.\n";

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: qorpack COMMAND ...\n");
  for (const Command& command : kCommands) {
    if (command.synopsis != nullptr) std::fprintf(out, "  qorpack %-24s %s\n", command.synopsis, command.summary);
  }
}

int Usage() {
  PrintUsage(stderr);
  return kExitUsage;
}

int PrintHelp() {
  PrintUsage(stdout);
  std::printf("  qorpack %-24s %s\n  qorpack %-24s %s\n\n%s", "help COMMAND", "describe one command",
              "--help | -h | --version", "this text, or the version", kExitStatuses);
  return 0;
}

void PrintCommandHelp(std::FILE* out, const Command& command) {
  std::fprintf(out, "usage: qorpack %s\n\n%s", command.synopsis, command.details);
}

const Command* Find(const char* name) {
  for (const Command& command : kCommands) {
    // The Windows program takes its switches in either case.
    if (std::strcmp(name, command.name) == 0 ||
        (std::strcmp(command.name, "/m") == 0 && std::strcmp(name, "/M") == 0)) {
      return &command;
    }
  }
  return nullptr;
}

bool IsHelpOption(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

int Help(int argc, char** argv) {
  if (argc == 0) return PrintHelp();
  const Command* command = argc == 1 ? Find(argv[0]) : nullptr;
  if (command == nullptr || command->synopsis == nullptr) {
    std::fprintf(stderr, "usage: qorpack help COMMAND   (COMMAND: build, init, list, verify, extract, "
                         "implode, explode)\n");
    return kExitUsage;
  }
  PrintCommandHelp(stdout, *command);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* name = argv[1];
  if (IsHelpOption(name)) return PrintHelp();
  if (std::strcmp(name, "--version") == 0) {
    std::printf("qorpack %s\n", QOR_VERSION);
    return 0;
  }
  if (std::strcmp(name, "help") == 0) return Help(argc - 2, argv + 2);

  const Command* command = Find(name);
  if (command == nullptr) {
    std::fprintf(stderr, "qorpack: unknown command '%s'\n", name);
    return Usage();
  }
  const int count = argc - 2;
  // "qorpack list --help" asks for help; "/m" keeps the Windows program's reading of its argument.
  if (command->synopsis != nullptr && count == 1 && IsHelpOption(argv[2])) {
    PrintCommandHelp(stdout, *command);
    return 0;
  }
  if (command->args != kOwnCheck && count != command->args) {
    std::fprintf(stderr, "usage: qorpack %s\n", command->synopsis);
    return kExitUsage;
  }
  return command->run(count, argv + 2);
}
