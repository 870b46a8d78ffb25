// What one run of the installer knows about its package, kept in one record that the steps of the
// install pass along: the open package and the reading position, the run's private extraction folder
// and what this run created there, and the setup script as read out of the package with its plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer/install_log.h"
#include "installer/signature_check.h"
#include "platform/platform.h"
#include "script/languages.h"
#include "script/script_check.h"
#include "script/setup_script.h"

// A payload file as this run extracted it: where it lies, and where its segment starts in the
// package (the finishing command's program is compared with it before it starts).
struct ExtractedFile {
  std::string name;            // the entry's name, as the script gives it
  std::string path;            // extraction folder + name
  std::uint32_t segmentStart;  // package offset of its segment
};

// A file this run created, and which file it is: the clean-up deletes it only while its name still
// holds it, never a file another process put there in its place.
struct CreatedFile {
  std::string path;
  platform::FileIdentity identity;
};

// The mark that tells later runs this run's folder is in use, in the folder beside the script. Its
// name is shorter than the script's, so it sets no new bound on the temporary directory's length.
constexpr char kLiveMarkName[] = "Qor.live";

struct InstallSession {
  bool silent = false;            // /h: nothing is shown, whatever happens
  platform::File package;         // the running package, open for reading until the command starts
  OwnSignatureCheck signatures;   // the package's signatures, judged by AwaitSignatures
  bool signaturesRecorded = false;  // AwaitSignatures has written them to the record
  std::uint32_t position = 0;     // package offset of the next piece
  std::uint32_t payloadStart = 0; // package offset of the first payload piece (for the progress bar)
  std::uint32_t payloadEnd = 0;   // package offset where the pieces end: the checksum word
  std::string packagePath;        // the running package's own path
  std::string directory;          // the run's private extraction folder, ending with its separator;
                                  // empty until it is created
  platform::File folder;          // that folder, held open without delete sharing from its creation
                                  // to the clean-up: nobody can rename or replace it meanwhile
  platform::FileIdentity folderIdentity;  // which folder it is, for its removal by identity
  std::vector<CreatedFile> created;      // files this run created there and that still exist
  platform::File liveMark;        // held open for as long as the run goes on
  platform::FileIdentity liveMarkIdentity;
  std::vector<ExtractedFile> extracted;  // the payload files, in package order
  InstallLog* log = nullptr;      // the /log record of a silent run, or null
  std::string scriptPath = kScriptName;  // the extracted script's path; its bare name until then
  SetupScript script;             // the script as decoded from the package, the only copy read
  InstallPlan plan;               // what the script's check worked out; the steps act on it alone
  LanguageChoice language;        // the section whose texts the page and its question show, chosen
                                  // once the script's check has passed
};

// Writes "<label>: <text>" to the run's /log record, when it has one.
void LogStep(const InstallSession& session, const char* label, const std::string& text);

// Notes in the /log record that the extracted file `name` (platform text) did not get its stored
// time, for the reason ExtractSegment gave in `timeNote`; nothing when that is empty.
void NoteTime(const InstallSession& session, const std::string& name, const std::string& timeNote);
