// The POSIX side's loop over a call that may do fewer bytes than asked or be broken off by a
// signal, shared by its files.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>

namespace platform {

// Calls `step(done, left)` until all `size` bytes are done. A step works on the `left` bytes from
// offset `done` and returns how many it did, or -1 with errno set; one that a signal broke off is
// made again, any other failure ends the loop with false. So does a step that does nothing: asking
// again would only loop forever.
template <typename Step>
bool AllBytes(std::uint32_t size, Step step) {
  std::uint32_t done = 0;
  while (done < size) {
    const ssize_t n = step(done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

}  // namespace platform
