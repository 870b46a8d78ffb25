// What one run of the installer knows about its package, kept in one record that the steps of the
// install pass along: the open package and the reading position, the extraction folder, and the
// setup script as read out of the package.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "script/setup_script.h"

// The setup script's name in the extraction folder, and the name that error boxes give before it is
// written there.
constexpr char kScriptName[] = "SetupQor.ini";

struct InstallSession {
  bool silent = false;            // /h: nothing is shown, whatever happens
  platform::File package;         // the running package, open for reading until its payload is out
  std::uint32_t position = 0;     // package offset of the next piece
  std::uint32_t payloadStart = 0; // package offset of the first payload piece (for the progress bar)
  std::uint32_t payloadEnd = 0;   // package offset where the pieces end: the checksum word
  std::string directory;          // the extraction folder, ending with its separator
  std::string scriptPath = kScriptName;  // the extracted script's path; its bare name until then
  SetupScript script;             // the script as decoded from the package, the only copy read
};
