// The POSIX side's reading of a path as a Windows build machine writes it, shared by its files.
#pragma once

#include <string>

namespace platform {

// The POSIX path for a path as written in a packing list: "\" separates components, and a
// component that does not exist with its exact case matches an entry of its folder that differs
// only in ASCII case.
std::string ResolvePath(const char* path);

}  // namespace platform
