// What an install leaves behind, silent or with the page: with /log FILE every step and the outcome
// go to FILE; without it, a failed or cancelled run adds one line to QorEngineUpdate.log in the
// temporary directory. Package texts in the lines are escaped, so a crafted name cannot forge or
// hide a line.
#pragma once

#include <string>

#include "platform/platform.h"
#include "script/failure.h"

// The default record of failed silent runs, in the temporary directory.
constexpr char kFailureLogName[] = "QorEngineUpdate.log";

class InstallLog {
 public:
  // Creates FILE anew (an older record of that name is replaced); fails with the system's reason.
  platform::Status Open(const char* path);
  bool IsOpen() const { return file_.IsOpen(); }
  // Writes "<label>: <text>" as one line; nothing when no FILE was given.
  void Step(const char* label, const std::string& text);

 private:
  platform::File file_;
};

// Appends "<UTC time> TAB <package> TAB error code <N>: <reason>" to kFailureLogName in the temporary
// directory; a line that cannot be written is dropped (there is nobody left to tell).
void AppendFailureLine(const std::string& package, const Failure& failure);
