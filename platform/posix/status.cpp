// The system's reasons natively: errno and strerror's text.
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {

const std::uint32_t kErrorNameTooLong = ENAMETOOLONG;
const std::uint32_t kErrorTooLarge = EFBIG;
// errno has no "not a plain file"; a device or pipe where a file was wanted is "no such device".
const std::uint32_t kErrorNotAFile = ENODEV;

Status::Status(bool ok) : ok_(ok), error_(ok ? 0u : static_cast<std::uint32_t>(errno)) {}

std::string ErrorText(const Status& status) {
  if (status.error() == 0) return "the system gave no reason.";
  if (status.error() == kErrorLink) return "It is a link, or a file with several names, which is not followed.";
  // The GNU strerror_r gives its text as its result, which may or may not be the buffer.
  char buffer[256];
  std::string text = strerror_r(static_cast<int>(status.error()), buffer, sizeof buffer);
  if (status.error() == ENODEV) text = "Not a plain file (a device or a pipe)";
  return text + ".";
}

}  // namespace platform
