// The memory callbacks behind ImplodeBuffer and ExplodeBuffer: they serve the process-wide
// memoryTransfer record, which each of those calls resets before it starts.
#include "codec/memory_transfer.h"

#include <cstring>

#include "app/process_state.h"

std::uint32_t ReadFromMemory(std::uint8_t* buffer, std::uint32_t* size, void*) {
  const std::uint32_t count = *size < memoryTransfer.sourceRemaining ? *size : memoryTransfer.sourceRemaining;
  if (count != 0) std::memcpy(buffer, memoryTransfer.sourceCursor, count);
  memoryTransfer.sourceCursor += count;
  memoryTransfer.sourceRemaining -= count;
  return count;
}

void WriteToMemory(std::uint8_t* buffer, std::uint32_t* size, void*) {
  // Compared as "room left" rather than "count + size": the sum could wrap around for a capacity
  // near 4 GiB and let a chunk through that does not fit.
  const std::uint32_t room = memoryTransfer.destinationCapacity - memoryTransfer.destinationCount;
  if (*size > room) {
    // Dropped whole: a caller that sees the flag discards the output anyway, and partial copies
    // would only hide where the stream was cut.
    memoryTransfer.overflow = 1;
    return;
  }
  if (*size != 0) std::memcpy(memoryTransfer.destinationCursor, buffer, *size);
  memoryTransfer.destinationCursor += *size;
  memoryTransfer.destinationCount += *size;
}
