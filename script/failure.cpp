// The reasons that name a file and the system's word on it.
#include "script/failure.h"

#include "script/printable.h"

std::string SystemReason(const std::string& path, const platform::Status& status) {
  return EscapeControls(path) + ": " + platform::ErrorText(status);
}
