// The payload list of the setup script: the Files entries File01, File02, ... up to the first
// missing key (so a gap ends the list; File99 is the last that is ever read). Each entry is
// "<name>,<source path>"; the installer uses only the name, the text before the last comma.
#pragma once

#include <string>
#include <vector>

#include "script/setup_script.h"

// The last entry key that is ever read.
constexpr int kLastPayloadEntry = 99;

enum class EntryProblem {
  None,
  NoComma,       // the value has no comma, so it names no file
  TooLong,       // the value does not fit 259 characters
  NotPlainName,  // the name is empty, ".", "..", or holds a drive, "\" or "/": it would reach
                 // outside the extraction folder
  DeviceName,    // the name (before its first dot) is a device such as NUL, CON or COM1: the bytes
                 // would go to the device
  BadCharacter,  // the name holds a character Windows forbids in names (< > " | ? *) or a control
                 // character
  BadEnding,     // the name ends in a dot or a blank, which Windows drops: it would name another file
};

struct PayloadEntry {
  std::string key;     // "File01" ...
  std::string name;    // the file name in the extraction folder (empty unless problem is None)
  EntryProblem problem;
  std::string source;  // the builder's source path (EntrySourcePath), when problem is None
};

// The list of `script`; empty when File01 is missing.
std::vector<PayloadEntry> ReadPayloadList(const SetupScript& script);

// The source path of an entry: the text after its last comma, with the tabs, blanks and commas that
// follow the comma skipped. Null when the entry holds no comma.
const char* EntrySourcePath(const char* entry);

// The name that an entry value gives, or the problem that keeps it from naming a file of its own in
// the extraction folder.
EntryProblem EntryName(const char* value, std::string& name);

// True for the names Windows keeps for devices (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$), whatever extension follows them: "nul.txt" is NUL.
bool IsDeviceName(const std::string& name);

// True when two names are the same file name to Windows: every letter of the code page compares
// without case (platform::SameScriptName).
bool SameFileName(const std::string& a, const std::string& b);

// Splits the finishing command `fileName` into its program (up to the first blank, or between
// double quotes) and the rest. False when there is no program: an empty or blank-led value, "",
// or an opening quote without its closing one.
bool SplitFinishingCommand(const std::string& fileName, std::string& program, std::string& arguments);

// A reason for an entry's problem, for error texts and tool messages ("File03 has no comma").
std::string DescribeEntryProblem(const PayloadEntry& entry);

// "File01" ... "File99" for 1 ... 99.
std::string PayloadKey(int number);
