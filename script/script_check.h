// The one judgement of a setup script, and the plan it hands back: what the installer needs from
// the script, worked out once. The builder asks it before it writes a package, qorpack asks it
// before it lists, verifies or extracts one, and the installer asks it before the first payload
// byte; all of them then act on the plan and never read the script's keys again, so they refuse the
// same scripts for the same reason and cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "script/failure.h"
#include "script/setup_script.h"

// The setup script's name in the extraction folder and in every message about it.
constexpr char kScriptName[] = "SetupQor.ini";

// The largest decoded setup script that the installer and qorpack accept: 4 MiB, far above any real
// script (its values hold at most 259 characters each), and small enough that a crafted package
// cannot make them hold much memory. A larger one is refused with code 4 while it is decoded.
constexpr std::uint32_t kMaxScriptSize = 4u * 1024u * 1024u;

// One payload file as the plan holds it. Texts are the script's bytes (its ANSI code page).
struct PlannedFile {
  std::string key;     // "File01" ...
  std::string name;    // its name in the extraction folder: a plain, valid Windows file name
  std::string source;  // the builder's source path: the text after the entry's last comma, with the
                       // blanks, tabs and commas that follow that comma skipped
};

// How the finishing command's program is started, by its file name's extension (without regard to
// case); a program of any other extension is refused.
enum class ProgramKind {
  Executable,        // .exe or .com: started itself
  InstallerPackage,  // .msi: installed by the system's msiexec.exe
  CommandScript,     // .cmd or .bat: run by the system's cmd.exe
};

// The finishing command, split once.
struct PlannedCommand {
  std::string text;       // FileName as written
  std::string program;    // the program's name, without its quotes
  std::string arguments;  // everything after the program, its leading blank included
  std::size_t file = 0;   // the index in InstallPlan::files of the payload file it starts
  ProgramKind kind = ProgramKind::Executable;
};

struct InstallPlan {
  std::vector<PlannedFile> files;  // in package order, File01 first; never empty
  PlannedCommand command;
  std::string outputName;          // Out/OutputName as written
  std::vector<std::string> languages;  // the sections that Cmd/LANG lists, in order: one for a single
                                       // name (as written), several for a list; empty when LANG
                                       // names none
  std::size_t longestName = 0;     // the longest file name, the script's own included, in bytes
};

// Judges `script`. On success `plan` holds what the installer does with it; on a failure the plan is
// left incomplete and must not be used, and the failure is code 4 (kFatalScript) with the first
// reason found: a script over kMaxScriptSize, an entry that is not a plain, valid Windows file name
// of its own (no comma, too long, a folder step, a device, a forbidden character or ending, a name
// given twice without regard to case, or the setup script's own name), no File01, no OutputName, or
// a FileName that is missing, too long, malformed or whose program is not one of the entries or not
// of a kind the installer starts, no LANG, or a LANG list that CheckLanguageList refuses. With
// `folderLength`, the length of the extraction folder's path (separator included) as Windows counts
// it, a name whose path would pass 259 characters is code 8.
Failure CheckSetupScript(const SetupScript& script, InstallPlan& plan, std::size_t folderLength = 0);

// The longest temporary directory, in characters as Windows counts them and without its last
// separator (as TEMP usually names it), in which the installer still takes `plan`: every path in the
// extraction folder, the temporary directory, its separator, "Qor" and 16 hex digits, a separator and
// the longest name, has 259 characters at most. One more, and CheckSetupScript refuses it (code 8).
// qorpack verify shows it.
std::size_t LongestTemporaryDirectory(const InstallPlan& plan);

// The payload part of the same judgement alone, for qorpack list and extract, which show and unpack
// what a package holds even when its finishing command would be refused: the entries, checked as
// CheckSetupScript checks them (a file list that is refused here is refused there with the same
// reason), into `files`.
Failure CheckPayloadList(const SetupScript& script, std::vector<PlannedFile>& files, std::size_t folderLength = 0);
