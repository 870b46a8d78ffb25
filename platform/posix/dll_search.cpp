// RestrictDllSearch on POSIX: the native build loads no libraries at run time.
#include "platform/platform.h"

namespace platform {

void RestrictDllSearch() {}

}  // namespace platform
