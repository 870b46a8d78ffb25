// The one judgement of a setup script: what the installer needs from it before it extracts anything.
// The builder asks it before it writes a package, qorpack verify asks it, and the installer asks it
// before the first payload byte, so all three refuse the same scripts for the same reason.
#pragma once

#include "script/failure.h"
#include "script/setup_script.h"

// No failure when the installer can work with `script`; else code 4 (kFatalScript) and the first
// reason found: an entry that names no plain file (or has no comma, or is too long), no File01, no
// OutputName, or a FileName that is missing or longer than 259 characters.
Failure CheckSetupScript(const SetupScript& script);
