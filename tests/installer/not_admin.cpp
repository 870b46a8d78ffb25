// The link seam of the refusal test: an installer whose user is never an administrator. Linked
// before the core, it takes the place of the token check.
#include "installer/privileges.h"

std::int32_t IsAdministrator() { return 0; }
