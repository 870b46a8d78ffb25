// The one judgement of a setup script: what the installer needs from it before it extracts anything.
// The builder asks it before it writes a package, qorpack verify asks it, and the installer asks it
// before the first payload byte, so all three refuse the same scripts for the same reason.
#pragma once

#include "script/failure.h"
#include "script/setup_script.h"

#include <cstddef>
#include <cstdint>

// The largest decoded setup script that the installer and qorpack accept: 4 MiB, far above any real
// script (its values hold at most 259 characters each), and small enough that a crafted package
// cannot make them hold much memory. A larger one is refused with code 4 while it is decoded.
constexpr std::uint32_t kMaxScriptSize = 4u * 1024u * 1024u;

// No failure when the installer can work with `script`; else code 4 (kFatalScript) and the first
// reason found: an entry that is not a plain, valid Windows file name of its own (no comma, too
// long, a folder step, a device, a forbidden character or ending, a name given twice without regard
// to case, or the setup script's own name), no File01, no OutputName, or a FileName that is missing,
// too long, malformed or whose program is not one of the entries. With `folderLength`, the length of
// the extraction folder's path (separator included) when it is known, a name whose path would pass
// 259 characters is code 8.
Failure CheckSetupScript(const SetupScript& script, std::size_t folderLength = 0);
