// qorpack build LIST (also qorpack /m LIST): the package builder of QorEngineUpdate.exe /m on the
// build machine. The package and the build log are the same as the Windows program writes; here the
// log lines are also echoed to standard error, and a long build shows its progress on a terminal.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "builder/builder.h"
#include "tools/commands.h"

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

int CommandBuild(int argc, char** argv) {
  unsigned jobs = 0;
  if (argc >= 1 && argv[0][0] == '-' && !ParseJobs(argc, argv, jobs)) {
    std::fprintf(stderr, "usage: qorpack build [-j N] LIST   (N: 1 to 256 threads)\n");
    return 2;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: qorpack build [-j N] LIST   (or: qorpack /m LIST)\n");
    return 2;
  }
  const char* list = argv[0];
  // The argument text of QorEngineUpdate.exe /m; quoted, so a path with blanks arrives whole. A
  // quote inside the path could not be passed that way.
  if (std::strchr(list, '"') != nullptr) {
    std::fprintf(stderr, "qorpack: a packing list path cannot hold a double quote\n");
    return 2;
  }
  const std::string argumentText = std::string("/m \"") + list + "\"";
  Console console{isatty(STDERR_FILENO) == 1, Clock::now(), Clock::time_point(), false};
  BuildOptions options;
  options.echo = Echo;
  options.progress = Progress;
  options.context = &console;
  options.jobs = jobs;
  const int status = BuildPackage(argumentText.c_str(), options);
  ClearProgress(console);
  return status;
}
