// The system's reasons on Windows: GetLastError and FormatMessageW's text, in the user's language.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

const std::uint32_t kErrorNameTooLong = ERROR_FILENAME_EXCED_RANGE;
const std::uint32_t kErrorTooLarge = ERROR_FILE_TOO_LARGE;
// Windows says "access denied" when a folder is opened as a file; the reason is clearer spelled out.
const std::uint32_t kErrorNotAFile = ERROR_BAD_FILE_TYPE;

Status::Status(bool ok) : ok_(ok), error_(ok ? 0u : GetLastError()) {}

std::string ErrorText(const Status& status) {
  if (status.error() == 0) return "the system gave no reason.";
  if (status.error() == kErrorLink) return "It is a link, or a file with several names, which is not followed.";
  wchar_t* text = nullptr;
  // Language 0: the user's own language, falling back as the system does. Inserts stay as "%1":
  // the caller names the file in front of the text.
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      status.error(), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string line = length != 0 ? Narrow(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  // One line: the system's texts end with CR LF, and some run over two lines.
  for (char& c : line) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.empty()) return "system error " + std::to_string(status.error()) + ".";
  if (line.back() != '.') line += '.';
  return line;
}

}  // namespace platform
