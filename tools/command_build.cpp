// qorpack build LIST (also qorpack /m LIST): the package builder of QorEngineUpdate.exe /m on the
// build machine. The package and the build log are the same as the Windows program writes; here the
// log lines are also echoed to standard error, and a long build shows its progress on a terminal.
// Options choose the stub and the output in place of the list's, write a dependency file for
// build systems, make a missing source fail the build, and say what was built as a line or as JSON.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "builder/build_files.h"
#include "builder/builder.h"
#include "platform/platform.h"
#include "script/failure.h"
#include "script/printable.h"
#include "script/ini.h"
#include "script/setup_script.h"
#include "tools/commands.h"
#include "tools/json_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Progress shows only after this long, so short builds print nothing but their log.
constexpr std::chrono::seconds kQuietStart{3};
constexpr std::chrono::milliseconds kProgressInterval{250};

struct Console {
  bool terminal;
  Clock::time_point start;
  Clock::time_point lastShown;
  bool progressShown;
};

void ClearProgress(Console& console) {
  if (!console.progressShown) return;
  std::fputs("\r\033[K", stderr);
  console.progressShown = false;
}

void Echo(void* context, const char* line) {
  Console& console = *static_cast<Console*>(context);
  ClearProgress(console);
  // The log's lines end in CR LF for Windows editors; a terminal wants LF alone.
  for (const char* p = line; *p != '\0'; ++p) {
    if (*p != '\r') std::fputc(*p, stderr);
  }
  std::fflush(stderr);
}

void Progress(void* context, const char* name, std::uint64_t done, std::uint64_t size) {
  Console& console = *static_cast<Console*>(context);
  if (!console.terminal) return;
  const Clock::time_point now = Clock::now();
  if (now - console.start < kQuietStart || now - console.lastShown < kProgressInterval) return;
  console.lastShown = now;
  if (size != 0) {
    std::fprintf(stderr, "\r\033[K%s: %llu of %llu bytes", name, static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(size));
  } else {
    std::fprintf(stderr, "\r\033[K%s: %llu bytes", name, static_cast<unsigned long long>(done));
  }
  std::fflush(stderr);
  console.progressShown = true;
}

}  // namespace

// Reads "-j N", "-jN" or "--jobs N" (N from 1 to 256); false for anything else.
bool ParseJobs(int& argc, char**& argv, unsigned& jobs) {
  std::string text;
  const std::string first = argv[0];
  if ((first == "-j" || first == "--jobs") && argc >= 2) {
    text = argv[1];
    argc -= 2;
    argv += 2;
  } else if (first.rfind("-j", 0) == 0 && first.size() > 2) {
    text = first.substr(2);
    argc -= 1;
    argv += 1;
  } else {
    return false;
  }
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  jobs = static_cast<unsigned>(std::stoul(text));
  return jobs >= 1 && jobs <= 256;
}

namespace {

struct BuildArguments {
  unsigned jobs = 0;
  const char* stub = nullptr;
  const char* output = nullptr;
  const char* depfile = nullptr;
  const char* list = nullptr;
  bool strict = false;
  bool quiet = false;
  bool json = false;
};

const char kBuildUsage[] =
    "usage: qorpack build [OPTION]... LIST   (or: qorpack /m LIST)\n"
    "options: -j N (1 to 256 threads), --stub PATH, --output PATH, --depfile FILE (with --output),\n"
    "         --strict, --quiet, --json\n";

// The options, in any order, then LIST; false (after the usage) for anything else.
bool ParseBuildArguments(int argc, char** argv, BuildArguments& arguments) {
  while (argc > 1 && argv[0][0] == '-') {
    const std::string option = argv[0];
    bool* flag = option == "--strict" ? &arguments.strict
                 : option == "--quiet" ? &arguments.quiet
                 : option == "--json"  ? &arguments.json
                                       : nullptr;
    if (flag != nullptr) {
      *flag = true;
      argc -= 1;
      argv += 1;
      continue;
    }
    const char** path = option == "--stub" ? &arguments.stub
                        : option == "--output" ? &arguments.output
                        : option == "--depfile" ? &arguments.depfile
                                                : nullptr;
    if (path != nullptr) {
      if (*path != nullptr || argv[1][0] == '\0') return false;
      *path = argv[1];
      argc -= 2;
      argv += 2;
    } else if (!ParseJobs(argc, argv, arguments.jobs)) {
      return false;
    }
  }
  if (argc != 1 || argv[0][0] == '-') return false;
  arguments.list = argv[0];
  // The depfile's rule names the package, which only --output fixes before the build.
  return arguments.depfile == nullptr || arguments.output != nullptr;
}

// An absolute path for a dependency file, whose reader runs in another folder.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char current[4096];
  if (getcwd(current, sizeof current) == nullptr) return path;
  return std::string(current) + "/" + path;
}

// `path` in a make rule, which ninja and make read alike: blanks, "#" and "\" before them escaped,
// "$" doubled. False for a line break or a colon, which no escape carries through both readers.
bool AppendRulePath(std::string& rule, const std::string& path) {
  for (const char c : path) {
    if (c == '\n' || c == '\r' || c == ':') return false;
    if (c == ' ' || c == '\t' || c == '#' || c == '\\') rule += '\\';
    if (c == '$') rule += '$';
    rule += c;
  }
  return true;
}

// Writes the dependency file of a finished build: the package, then every file the build read (the
// list as it is now, the stub, the version file and each source), so that a build system rebuilds
// the package when any of them changes. Returns the exit status: 0, or 1 with a message.
int WriteDependencyFile(const BuildArguments& arguments) {
  std::string text;
  if (!ReadProfileText(arguments.list, text)) {
    std::fprintf(stderr, "qorpack build: cannot read %s again for the dependency file\n", arguments.list);
    return 1;
  }
  const SetupScript list(std::move(text));
  std::string rule;
  bool written = AppendRulePath(rule, Absolute(platform::SystemPath(arguments.output)));
  rule += ":";
  for (const BuildInput& input : NamedInputs(arguments.list, list, arguments.stub)) {
    // A pruned entry names nothing; a rule for a missing file would rebuild every time.
    if (platform::KindOfFile(input.path.c_str()) != platform::FileKind::Regular) continue;
    rule += " \\\n  ";
    written = AppendRulePath(rule, Absolute(platform::SystemPath(input.path.c_str()))) && written;
  }
  rule += "\n";
  if (!written) {
    std::fprintf(stderr, "qorpack build: the dependency file %s cannot name a path holding a colon or a line "
                         "break\n", arguments.depfile);
    return 1;
  }
  std::FILE* out = std::fopen(arguments.depfile, "w");
  if (out == nullptr || std::fwrite(rule.data(), 1, rule.size(), out) != rule.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "qorpack build: cannot write the dependency file %s: %s\n", arguments.depfile,
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

// --strict: every source of the list must be a plain file that can be opened, checked before the
// build starts so that a missing one writes nothing at all (the builder, told the same, still fails
// a source that goes missing after this, with its log). 0, or 255 after a message naming the entry.
int CheckSources(const char* listPath) {
  std::string text;
  if (!ReadProfileText(listPath, text)) return 0;  // the build says why
  const SetupScript list(std::move(text));
  for (const BuildInput& input : NamedInputs(listPath, list)) {
    if (input.role.rfind("the source of ", 0) != 0) continue;
    const char* path = input.path.c_str();
    std::string problem;
    switch (KindOfPath(path)) {
      case platform::FileKind::Missing: problem = "is missing: " + EscapeControls(input.path); break;
      case platform::FileKind::Folder: problem = "is a folder, not a file: " + EscapeControls(input.path); break;
      case platform::FileKind::Other: problem = "is a device or a pipe, not a file: " + EscapeControls(input.path); break;
      case platform::FileKind::Regular: {
        platform::File file;
        if (const platform::Status opened = platform::OpenRegularFile(path, file); !opened) {
          problem = "cannot be read: " + SystemReason(input.path, opened);
        }
        break;
      }
    }
    if (!problem.empty()) {
      std::fprintf(stderr, "qorpack: --strict: %s %s\n", input.role.c_str(), problem.c_str());
      return 255;
    }
  }
  return 0;
}

// The one line of a good build, on standard output.
void PrintBuilt(const BuildReport& report) {
  std::printf("%s: %u bytes, %zu pieces\n", EscapeControls(report.output).c_str(), report.size, report.pieces.size());
}

// --json: the same as one object, with each piece and the build's warnings.
void PrintBuiltJson(const BuildReport& report) {
  std::printf("{\"output\": %s, \"size\": %u,\n \"pieces\": [", JsonPlatformText(report.output).c_str(), report.size);
  for (std::size_t i = 0; i < report.pieces.size(); ++i) {
    const BuiltPiece& piece = report.pieces[i];
    std::printf("%s\n  {\"name\": %s, \"source\": %s, \"packed\": %u, \"size\": %llu, \"time\": %s}",
                i == 0 ? "" : ",", JsonScriptText(piece.name).c_str(), JsonPlatformText(piece.source).c_str(),
                piece.packed, static_cast<unsigned long long>(piece.size), JsonTime(piece.time).c_str());
  }
  std::printf("],\n \"warnings\": [");
  for (std::size_t i = 0; i < report.warnings.size(); ++i) {
    std::printf("%s%s", i == 0 ? "" : ", ", JsonPlatformText(report.warnings[i]).c_str());
  }
  std::printf("]}\n");
}

}  // namespace

int CommandBuild(int argc, char** argv) {
  BuildArguments arguments;
  if (!ParseBuildArguments(argc, argv, arguments)) {
    std::fputs(kBuildUsage, stderr);
    return 2;
  }
  const char* list = arguments.list;
  // The argument text of QorEngineUpdate.exe /m; quoted, so a path with blanks arrives whole. A
  // quote inside the path could not be passed that way.
  if (std::strchr(list, '"') != nullptr) {
    std::fprintf(stderr, "qorpack: a packing list path cannot hold a double quote\n");
    return 2;
  }
  // The builder's own texts for these two name an old file name, or blame the version: qorpack says
  // what is wrong before a build starts.
  platform::File listFile;
  std::uint32_t listSize = 0;
  if (const platform::Status opened = platform::OpenRegularFile(list, listFile); !opened) {
    std::fprintf(stderr, "qorpack: cannot read the packing list %s\n", SystemReason(list, opened).c_str());
    return 255;
  }
  if (platform::SeekEnd(listFile, listSize) && listSize == 0) {
    std::fprintf(stderr, "qorpack: the packing list %s is empty\n", EscapeControls(list).c_str());
    return 255;
  }
  listFile.Close();
  if (arguments.strict) {
    if (const int status = CheckSources(list)) return status;
  }
  const std::string argumentText = std::string("/m \"") + list + "\"";
  Console console{isatty(STDERR_FILENO) == 1, Clock::now(), Clock::time_point(), false};
  BuildOptions options;
  options.echo = Echo;
  options.progress = Progress;
  options.context = &console;
  options.jobs = arguments.jobs;
  options.stubPath = arguments.stub;
  options.outputPath = arguments.output;
  options.strict = arguments.strict;
  BuildReport report;
  options.report = &report;
  const int status = BuildPackage(argumentText.c_str(), options);
  ClearProgress(console);
  if (status != 0) return status;
  if (arguments.depfile != nullptr) {
    if (const int written = WriteDependencyFile(arguments)) return written;
  }
  if (arguments.json) {
    PrintBuiltJson(report);
  } else if (!arguments.quiet) {
    PrintBuilt(report);
  }
  return 0;
}
