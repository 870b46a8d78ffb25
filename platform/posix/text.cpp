// Script text and platform text are the same bytes natively: names are handed to the file system
// as the packing list or the package holds them.
#include "platform/platform.h"

namespace platform {

std::string FromScriptText(const std::string& text) { return text; }
std::string ToScriptText(const std::string& text) { return text; }
std::string FromScriptText(const std::string& text, std::uint32_t) { return text; }

}  // namespace platform
