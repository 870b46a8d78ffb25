// The build log: "logfile.txt" in the current directory, written anew by every build. It receives
// the warnings of a build and, when the build fails, the reason as its last line. Its lines are kept
// in memory and written once the build has ended, so that the log never replaces a file before the
// build knows whether that file is one of its inputs.
#pragma once

#include <string>

#include "platform/platform.h"
#include "script/failure.h"

// The log's file name, in the current directory.
extern const char kBuildLogName[];
// Where the log goes when "logfile.txt" is one of the build's inputs or its output, which the log
// must not replace.
extern const char kRefusedBuildLogName[];

struct BuildLog {
  std::string text;  // every line so far, as platform text
  // Called with every line as written (qorpack echoes the log to standard error); may be null.
  void (*echo)(void* context, const char* line) = nullptr;
  void* echoContext = nullptr;
};

// Writes the log's lines as the file `path`, in place of any old one. Fails with the system's
// reason when it cannot be written whole.
platform::Status SaveBuildLog(const BuildLog& log, const char* path);

// A log line: `format` with its one "%s" replaced by `argument` (or `format` alone when `argument`
// is null). A line longer than 259 characters keeps the start and end of the argument with "..."
// in between, so the line still ends as the format does.
std::string FormatLogLine(const char* format, const char* argument = nullptr);

// Adds a line made by FormatLogLine.
void WriteLogLine(BuildLog& log, const std::string& line);

// A failed build's failure: `code` and the log line as its reason.
Failure BuildFailure(int code, const char* format, const char* argument = nullptr);

// A failed build's failure for a system call on the file `path`: the fixed line `text` as it always
// read, then the file and the system's reason before the line's end: "Error opening an input file.
// pay\core.dll: Access is denied.". A `text` with a "%s" names the file there itself and is followed
// by the reason alone.
Failure SystemFailure(int code, const char* text, const std::string& path, const platform::Status& status);
