// The /m role: builds a package from a packing list.
#pragma once

#include <cstdint>

// Builds the package that the packing list named in `argumentText` (for example "/m .\list.ini")
// describes and returns 0; every failure ends the process through ReportFatal with the reason as
// the last line of the build log.
std::int32_t PackageBuilder(const char* argumentText);
