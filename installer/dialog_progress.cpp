// The installer page's progress during extraction, kept apart from the window code so that both
// builds can check it.
#include "installer/dialog.h"

int ExtractionPosition(std::uint32_t done, std::uint32_t start, std::uint32_t total) {
  // The reader counts from the start of the package, stub and script included: only what lies
  // behind `start` is payload, or the bar would open far beyond its first waypoint.
  if (total <= start || done <= start) return kProgressExtracting;
  if (done > total) done = total;
  // 64-bit: the payload's byte count times 25 exceeds 32 bits from 160 MiB on.
  const std::uint64_t part = std::uint64_t{done - start} * (kProgressRunning - kProgressExtracting) /
                             (total - start);
  return kProgressExtracting + static_cast<int>(part);
}
