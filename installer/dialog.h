// The installer page: runs the install from its main button and reports the outcome.
#pragma once

#include <cstdint>
#include <string>

#include "installer/session.h"
#include "script/failure.h"

enum class PageEnd {
  Finished,   // the install ran and the closing press ended the page
  Cancelled,  // the user cancelled before the install started
  Failed,     // the install failed; the page showed why (through ReportFatal) while it was still open
  NotShown,   // the page could not be shown
};

// Runs the page modally from dialog template 101 of `instance`, with the texts of the language that
// session.language chose. Its main button extracts the payload and runs the finishing command; once
// Finished, `status` holds the command's status (0, 3010 when it asks for a restart, 1641 when it has
// started one). On Failed, `failure` holds what the page showed, for the run's record.
PageEnd RunInstallerDialog(void* instance, InstallSession& session, std::uint32_t& status, Failure& failure);

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
