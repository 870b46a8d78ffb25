// The native build has no installer page: the interactive install cannot run there, which the
// installer treats like a page that cannot be shown.
#include "installer/dialog.h"

std::intptr_t RunInstallerDialog(void*) { return -1; }
