// The native build has no installer page: the interactive install cannot run there, which the
// installer treats like a page that cannot be shown.
#include "installer/dialog.h"

PageEnd RunInstallerDialog(void*, InstallSession&, std::uint32_t&, Failure&) {
  return PageEnd::NotShown;
}
