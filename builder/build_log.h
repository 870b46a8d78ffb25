// The build log: "logfile.txt" in the current directory, created anew by every build. It receives
// the warnings of a build and, when the build fails, the reason as its last line.
#pragma once

#include <string>

#include "platform/platform.h"
#include "script/failure.h"

struct BuildLog {
  platform::File file;
  // Called with every line as written (qorpack echoes the log to standard error); may be null.
  void (*echo)(void* context, const char* line) = nullptr;
  void* echoContext = nullptr;
};

// Creates (or truncates) the log. Whether that works is not checked: a build that cannot log still
// builds, and its exit status still tells success from failure.
void OpenBuildLog(BuildLog& log);

// A log line: `format` with its one "%s" replaced by `argument` (or `format` alone when `argument`
// is null). A line longer than 259 characters keeps the start and end of the argument with "..."
// in between, so the line still ends as the format does.
std::string FormatLogLine(const char* format, const char* argument = nullptr);

// Writes a line made by FormatLogLine.
void WriteLogLine(BuildLog& log, const std::string& line);

// A failed build's failure: `code` and the log line as its reason.
Failure BuildFailure(int code, const char* format, const char* argument = nullptr);
