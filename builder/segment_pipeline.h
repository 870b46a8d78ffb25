// The payload's segments compressed on several threads ahead of the package writer. Each segment's
// stream depends on its source alone, so a segment compressed early is the same bytes as one
// compressed in turn: the package is identical whatever the number of threads. Memory stays
// bounded: a segment is held in memory only while it waits for its turn; the sources being
// compressed or held add up to kHeldBudget at most, and to kHeldBudget + kMaxHeldSource only for the
// one the writer waits for (a stream is at most 9/8 of its source, so held streams stay below
// 36 MiB). A larger source is left to the writer, which codes it in its turn straight into the
// package, in pieces on these threads (see compress_segment.h); at most `2 x jobs` segments wait at
// once.
//
// The threads take the sources in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "builder/compress_segment.h"

// The largest source compressed ahead of its turn: its stream is held in memory until then.
constexpr std::uint32_t kMaxHeldSource = 8u << 20;
// The source bytes that the threads may have in hand at once.
constexpr std::uint64_t kHeldBudget = 24u << 20;

// One source's segment as a worker left it.
struct HeldSegment {
  bool streamed = false;   // not compressed ahead: its size unknown, or too large to hold
  platform::Status opened = false;  // the source could be opened (a failure is reported in turn)
  SegmentResult result = SegmentResult::Ok;
  platform::Status why;             // the system's reason for a ReadFailed or WriteFailed result
  platform::Status timeRead = false;  // the source's last-write time could be read
  std::uint64_t fileTime = 0;
  std::uint64_t sourceBytes = 0;     // the source's bytes that were compressed
  std::vector<std::uint8_t> stream;  // the compressed stream, with its extra zero byte when short
};

// The threads also code the pieces of large sources (SegmentHelpers): a free thread takes a queued
// piece before it starts another source, so that one large file keeps every core busy.
class SegmentPipeline final : public SegmentHelpers {
 public:
  // Starts `jobs` threads (none when `jobs` is 1 or less: every source is then the writer's) over
  // `sources`, taken in order. `check` names the pattern no segment may hold; progress is reported
  // by the writer, never from the threads.
  SegmentPipeline(std::vector<std::string> sources, const SegmentCheck& check, unsigned jobs);
  ~SegmentPipeline();
  SegmentPipeline(const SegmentPipeline&) = delete;
  SegmentPipeline& operator=(const SegmentPipeline&) = delete;

  // The segment of source `index`, waiting for it when a thread still works on it. Indexes must be
  // taken in order, each once.
  HeldSegment Take(std::size_t index);

  unsigned Threads() const override { return threadCount_; }
  void Post(std::function<void()> task) override;
  bool Help() override;

 private:
  void Work();
  // Compresses source `index` once the budget allows; `lock` is held on entry and on return.
  HeldSegment Compress(std::size_t index, std::unique_lock<std::mutex>& lock);

  std::vector<std::string> sources_;
  SegmentCheck check_;
  std::size_t window_;
  std::vector<HeldSegment> held_;
  std::vector<bool> ready_;
  std::vector<std::uint64_t> reserved_;  // source bytes counted against the budget, per source
  std::uint64_t inHand_ = 0;             // their sum over the sources not yet taken
  // Picks the source a free thread starts next, or returns false when none may start yet.
  bool NextSource(std::size_t& index);

  std::size_t nextInOrder_ = 0;  // the lowest source not yet started
  std::size_t waiting_ = 0;      // sources started and not yet taken by the writer
  std::size_t taken_ = 0;        // sources handed to the writer so far
  std::deque<std::function<void()>> tasks_;  // posted pieces, oldest first
  unsigned threadCount_;  // threads asked for (set before any starts: the workers read it)
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
};

// The number of threads a build uses when it is not told: one per core.
unsigned DefaultBuildJobs();
