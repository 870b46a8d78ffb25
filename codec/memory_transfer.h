// The record behind the memory-to-memory codec calls: one source and one destination buffer served
// to the stream coders through the ReadFromMemory and WriteToMemory callbacks.
#pragma once

#include <cstdint>

struct MemoryTransfer {
  const std::uint8_t* sourceCursor;     // next source byte to hand out
  std::uint32_t sourceRemaining;        // source bytes not yet handed out
  std::uint8_t* destinationCursor;      // where the next accepted output byte goes
  std::uint32_t destinationCount;       // output bytes accepted so far
  std::uint32_t destinationCapacity;    // the most output bytes that may be accepted
  std::int32_t overflow;                // 1 once a write would have passed the capacity
};

// The callbacks serve the MemoryTransfer that `parameter` points to; each call of the memory
// wrappers has a record of its own, so they may run at once on several threads.
// Read callback: hands out min(*size, sourceRemaining) bytes; 0 means the source is used up.
std::uint32_t ReadFromMemory(std::uint8_t* buffer, std::uint32_t* size, void* parameter);
// Write callback: takes the whole chunk if it fits the capacity, else drops it and sets overflow.
void WriteToMemory(std::uint8_t* buffer, std::uint32_t* size, void* parameter);
