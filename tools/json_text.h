// The values of qorpack's --json outputs (list, build, verify): JSON strings of the package's texts
// and of the build machine's paths, and times as ISO 8601 UTC. Every output is UTF-8.
#pragma once

#include <cstdint>
#include <string>

// A JSON string (quotes included) of script text: the setup script's and the packing list's names
// and texts, decoded from Windows-1252, the code page qorpack takes natively. Its five undefined
// bytes (81, 8D, 8F, 90, 9D) become U+0081, U+008D, U+008F, U+0090 and U+009D, as Windows converts
// them. Control characters, quotes and backslashes are escaped.
std::string JsonScriptText(const std::string& text);

// A JSON string of platform text (a path of the build machine, a reason): UTF-8 sequences as they
// are, and every byte that is no part of one decoded as Windows-1252, as a path taken from a
// packing list holds it.
std::string JsonPlatformText(const std::string& text);

// "2023-11-14T22:13:20Z" (quotes included) for a Windows file time (100-ns intervals since
// 1601-01-01 UTC), to the second; null for a time past the year 9999, which the format cannot hold.
std::string JsonTime(std::uint64_t fileTime);
