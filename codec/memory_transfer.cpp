// The memory callbacks behind ImplodeBuffer and ExplodeBuffer, over the caller's transfer record.
#include "codec/memory_transfer.h"

#include <cstring>

std::uint32_t ReadFromMemory(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  MemoryTransfer& transfer = *static_cast<MemoryTransfer*>(parameter);
  const std::uint32_t count = *size < transfer.sourceRemaining ? *size : transfer.sourceRemaining;
  if (count != 0) std::memcpy(buffer, transfer.sourceCursor, count);
  transfer.sourceCursor += count;
  transfer.sourceRemaining -= count;
  return count;
}

void WriteToMemory(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  MemoryTransfer& transfer = *static_cast<MemoryTransfer*>(parameter);
  // Compared as "room left" rather than "count + size": the sum could wrap around for a capacity
  // near 4 GiB and let a chunk through that does not fit.
  const std::uint32_t room = transfer.destinationCapacity - transfer.destinationCount;
  if (*size > room) {
    // Dropped whole: a caller that sees the flag discards the output anyway, and partial copies
    // would only hide where the stream was cut.
    transfer.overflow = 1;
    return;
  }
  if (*size != 0) std::memcpy(transfer.destinationCursor, buffer, *size);
  transfer.destinationCursor += *size;
  transfer.destinationCount += *size;
}
