// Platform text (UTF-8) to and from the UTF-16 of the Windows wide calls, for the Windows sides of
// the platform, the roles and the process entry; and opening a file by such a path.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

// `text` as UTF-16. False for text that is no valid UTF-8: a path that would reach the system with
// a replacement character in it would name another file, so it names none.
bool Widen(const std::string& text, std::wstring& wide);
// `text` as UTF-16 for showing it, with a replacement character for each invalid byte.
std::wstring WidenForDisplay(const std::string& text);
// `wide` (`length` units) as UTF-8; a lone surrogate becomes a replacement character.
std::string Narrow(const wchar_t* wide, std::size_t length);
std::string Narrow(const std::wstring& wide);

// A system answer of `length` units in `wide` (a buffer of `capacity` units) as a path: false when
// the call failed (0), its answer did not fit the buffer, or the path is longer than a path may be.
bool PathFromSystem(const wchar_t* wide, unsigned long length, unsigned long capacity, std::string& path);

// CreateFileW on `path` with the given access, sharing and disposition (normal attributes), the
// handle going to `file`. Fails when the path is no valid UTF-8 or the call fails.
Status OpenWide(const char* path, unsigned long access, unsigned long share, unsigned long disposition, File& file);

}  // namespace platform
