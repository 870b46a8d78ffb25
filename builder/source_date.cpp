// SOURCE_DATE_EPOCH read and checked once per build; the builder clamps every stored time with it.
#include "builder/source_date.h"

#include <string>

#include "builder/build_log.h"
#include "platform/platform.h"

namespace {

// Seconds from 1601-01-01 (where file times count from) to 1970-01-01 (where the epoch counts from).
constexpr std::uint64_t kEpochOffsetSeconds = 11644473600u;
constexpr std::uint64_t kTicksPerSecond = 10000000u;

}  // namespace

bool ParseSourceDateEpoch(const char* text, TimeLimit& limit) {
  // Digits only: no sign, blank or fraction, as `date +%s` writes it; 12 digits hold the largest.
  std::uint64_t seconds = 0;
  std::size_t digits = 0;
  for (const char* p = text; *p != '\0'; ++p, ++digits) {
    if (*p < '0' || *p > '9' || digits == 12) return false;
    seconds = seconds * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  if (digits == 0 || seconds > kLatestSourceDateEpoch) return false;
  limit.set = true;
  limit.fileTime = (seconds + kEpochOffsetSeconds) * kTicksPerSecond;
  return true;
}

Failure ReadTimeLimit(TimeLimit& limit) {
  limit = TimeLimit();
  std::string value;
  if (!platform::EnvironmentValue("SOURCE_DATE_EPOCH", value)) return Failure();
  if (ParseSourceDateEpoch(value.c_str(), limit)) return Failure();
  return BuildFailure(kFatalScript,
                      "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970-01-01 UTC, from 0 to "
                      "253402300799, not \"%s\".\r\n",
                      value.c_str());
}
