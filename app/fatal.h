// The single way a fatal condition ends the process: the script's ErrNN text in a box (unless the
// run is silent or building), then exit status -1.
#pragma once

// Fatal codes; the decimal value also names the script key ErrNN that holds the text shown.
enum FatalCode : int {
  kFatalChecksum = 2,      // the package checksum does not match
  kFatalFile = 3,          // a file operation failed
  kFatalScript = 4,        // the script or packing list lacks something or is malformed
  kFatalCodec = 5,         // compression, decompression or the builder's memory failed
  kFatalCancelled = 6,     // the user cancelled the dialog; never shown
  kFatalCommand = 7,       // the finishing command failed (dialog)
  kFatalTempFile = 8,      // the stub image or the script cannot be created in the temporary directory
  kFatalNotAdmin = 9,      // not a member of the local Administrators group (NT family)
};

// Shows the text for `code` from the script at `scriptPath` (language section from Cmd/LANG, "ENU"
// when missing; the fallback box when the script has no such text) unless silentMode or
// RunStatus.builderMode is set or the code is 6, then ends the process with exit status -1. Never
// returns. Replaces whatever lastMessage held.
[[noreturn]] void ReportFatal(int code, const char* scriptPath);

