// Process-wide state of QorEngineUpdate. Everything here lives for the whole process and is touched
// only from its single thread; this header and process_state.cpp are the one place where it is kept.
#pragma once

#include <cstdint>

#include "codec/memory_transfer.h"
#include "platform/platform.h"

// Outcome and role of the run.
struct RunStatusRecord {
  std::int32_t exitStatus;   // the installer's result: 0, 3010, or the silent command's status
  std::int32_t builderMode;  // 1 while the package builder runs: fatal errors show no box
};
extern RunStatusRecord RunStatus;

// 1 after the /h switch: fatal errors neither read the script nor show anything.
extern std::int32_t silentMode;

// The one text buffer for build-log lines and error texts.
extern char lastMessage[platform::kPathCapacity];

// The record that ReadFromMemory and WriteToMemory serve; reset by every memory-to-memory codec call.
extern MemoryTransfer memoryTransfer;

// Installer state: the package's own file, the offset of its next segment, its length less the
// checksum word, and the full path of the extracted setup script.
extern platform::File packageFile;
extern std::uint32_t packagePosition;
extern std::uint32_t packageChunkSize;
extern char scriptPath[platform::kPathCapacity];

// Dialog state: the language section named by Cmd/LANG, and whether qor.dll was in the system
// directory when the dialog opened.
extern char langSection[platform::kPathCapacity];
extern std::int32_t upgradeMode;
