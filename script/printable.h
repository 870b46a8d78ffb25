// Text from a package shown on a terminal or written to a log: a crafted name or command must not
// move the cursor, clear a line or start a new one there.
#pragma once

#include <string>

// `text` with every control character (00-1F, 7F, and the C1 range 80-9F that some terminals obey,
// as single bytes or as UTF-8) written as \xNN per byte; everything else, UTF-8 characters whose
// bytes fall in 80-9F included, as it is.
std::string EscapeControls(const std::string& text);
