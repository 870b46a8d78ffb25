// The installer page: runs the install from its main button and reports the outcome.
#pragma once

#include <cstdint>

// Runs the page modally from dialog template 101 of `instance`; returns the dialog's end result:
// 0 after the closing press, 6 when cancelled (-1 when the page cannot be shown). Sets
// RunStatus.exitStatus to 3010 when the finishing command asks for a restart. Failures during the
// install end the process through ReportFatal with the page still open.
std::intptr_t RunInstallerDialog(void* instance);

// Progress bar positions of the install: extraction starts at the first, the finishing command runs
// at the second, the finished page shows the third.
constexpr int kProgressExtracting = 25;
constexpr int kProgressRunning = 50;
constexpr int kProgressDone = 100;

// The bar's position while the payload is extracted: kProgressExtracting when the package has been
// read up to `start` (the offset where the payload begins), moving towards kProgressRunning in
// proportion to the bytes read since, with `done` the offset read so far and `total` the package
// size. Offsets outside start..total are held at the nearer end.
int ExtractionPosition(std::uint32_t done, std::uint32_t start, std::uint32_t total);
