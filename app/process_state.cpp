// Definitions of the process-wide state declared in process_state.h.
#include "app/process_state.h"

RunStatusRecord RunStatus = {0, 0};
std::int32_t silentMode = 0;
char lastMessage[platform::kPathCapacity] = {};
MemoryTransfer memoryTransfer = {};

platform::File packageFile;
std::uint32_t packagePosition = 0;
std::uint32_t packageChunkSize = 0;
char scriptPath[platform::kPathCapacity] = {};

char langSection[platform::kPathCapacity] = {};
std::int32_t upgradeMode = 0;
