// Reproducible builds: SOURCE_DATE_EPOCH, the convention of distributions and CI systems for the
// latest time a build may store. With it set, no stored file time is later than it, so two builds
// of the same sources from two checkouts give the same bytes whatever their files' times.
#pragma once

#include <cstdint>

#include "script/failure.h"

// The latest file time a build stores, as a Windows file time (100-ns intervals since 1601-01-01
// UTC); `set` is false when there is no limit.
struct TimeLimit {
  bool set = false;
  std::uint64_t fileTime = 0;
};

// The largest SOURCE_DATE_EPOCH taken: 9999-12-31 23:59:59 UTC, the last second Windows shows.
constexpr std::uint64_t kLatestSourceDateEpoch = 253402300799u;

// Reads SOURCE_DATE_EPOCH from the environment (on Windows too). Unset: no limit. A value that is no
// plain decimal number of seconds since 1970-01-01 UTC from 0 to kLatestSourceDateEpoch (an empty
// one included) fails the build with code 4 and the value in the reason, rather than build a
// package that is silently not reproducible.
Failure ReadTimeLimit(TimeLimit& limit);

// `text` as a limit; false when it is malformed as above. ReadTimeLimit's parser, for the tests.
bool ParseSourceDateEpoch(const char* text, TimeLimit& limit);

// `fileTime`, or the limit when it is later.
inline std::uint64_t LimitedTime(const TimeLimit& limit, std::uint64_t fileTime) {
  return limit.set && fileTime > limit.fileTime ? limit.fileTime : fileTime;
}
