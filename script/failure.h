// A failure as a value: the error code that also names the setup script's ErrNN text, and a reason
// in plain English. Deep code returns one and never ends the process; each role (builder, installer,
// each qorpack command) turns it into its box, build-log line or message and exit status at one place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"

// The error codes; the decimal value names the script key ErrNN that holds the text shown.
enum FatalCode : int {
  kFatalChecksum = 2,      // the package checksum does not match
  kFatalFile = 3,          // a file operation failed
  kFatalScript = 4,        // the script or packing list lacks something or is malformed
  kFatalCodec = 5,         // compression, decompression or the builder's memory failed
  kFatalCancelled = 6,     // the user cancelled the page; never shown
  kFatalCommand = 7,       // the finishing command failed (page)
  kFatalTempFile = 8,      // the stub image or the script cannot be created in the temporary directory
  kFatalNotAdmin = 9,      // not a member of the local Administrators group (NT family)
};

struct Failure {
  int code = 0;        // 0 for none, else a FatalCode
  std::string reason;  // what went wrong, naming the file, key or piece involved
  // A damaged segment's decoder result; an attended install shows it in a box of its own before
  // the error text. 0 when there is none.
  std::uint32_t decoderResult = 0;

  // True when something failed: `if (Failure failure = Step()) return failure;`.
  explicit operator bool() const { return code != 0; }
};

inline Failure Fail(int code, std::string reason) { return Failure{code, std::move(reason), 0}; }

// "<path>: <the system's reason>" for a reason that involves a file, the path (platform text) with
// its control characters escaped: "pay\core.dll: Access is denied."
std::string SystemReason(const std::string& path, const platform::Status& status);
