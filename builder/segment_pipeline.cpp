// SegmentPipeline: workers take the sources in order, each a few ahead of the writer, and leave the
// compressed streams for it; the writer takes them in order and appends them to the package.
#include "builder/segment_pipeline.h"

#include <cstdint>
#include <system_error>
#include <utility>

#include "builder/package_writer.h"

SegmentPipeline::SegmentPipeline(std::vector<std::string> sources, const SegmentCheck& check, unsigned jobs)
    : sources_(std::move(sources)),
      check_(check),
      window_(2 * static_cast<std::size_t>(jobs)),
      held_(sources_.size()),
      ready_(sources_.size(), false),
      reserved_(sources_.size(), 0),
      threadCount_(jobs <= 1 ? 0 : jobs) {
  // Progress lines go to one console from one thread: the writer's.
  check_.progress = nullptr;
  if (jobs <= 1) jobs = 0;
  // A system that refuses a thread builds with the ones it gave, or with none: then the writer
  // streams every source itself.
  try {
    for (unsigned i = 0; i < jobs; ++i) threads_.emplace_back(&SegmentPipeline::Work, this);
  } catch (const std::system_error&) {
  }
  if (threads_.empty()) {
    for (std::size_t i = 0; i < sources_.size(); ++i) {
      held_[i].streamed = true;
      ready_[i] = true;
    }
  }
}

SegmentPipeline::~SegmentPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

HeldSegment SegmentPipeline::Take(std::size_t index) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ready_[index]; });
  HeldSegment segment = std::move(held_[index]);
  held_[index] = HeldSegment();
  taken_ = index + 1;
  inHand_ -= reserved_[index];
  if (index < nextInOrder_) --waiting_;
  lock.unlock();
  // A slot in the window is free again.
  changed_.notify_all();
  return segment;
}

bool SegmentPipeline::NextSource(std::size_t& index) {
  if (nextInOrder_ == sources_.size() || waiting_ >= window_) return false;
  index = nextInOrder_++;
  ++waiting_;
  return true;
}

void SegmentPipeline::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

bool SegmentPipeline::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (tasks_.empty()) return false;
  std::function<void()> task = std::move(tasks_.front());
  tasks_.pop_front();
  lock.unlock();
  task();
  return true;
}

void SegmentPipeline::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::size_t index = 0;
    // A queued piece goes first: the thread that posted it waits for it.
    changed_.wait(lock, [&] { return stopping_ || !tasks_.empty() || NextSource(index); });
    if (stopping_) return;
    if (!tasks_.empty()) {
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    HeldSegment segment = Compress(index, lock);
    held_[index] = std::move(segment);
    ready_[index] = true;
    changed_.notify_all();
  }
}

HeldSegment SegmentPipeline::Compress(std::size_t index, std::unique_lock<std::mutex>& lock) {
  HeldSegment segment;
  lock.unlock();
  platform::File input;
  std::uint32_t size = 0;
  segment.opened = platform::OpenRegularFile(sources_[index].c_str(), input);
  const bool sized = segment.opened && platform::SeekEnd(input, size);
  lock.lock();
  if (!segment.opened) return segment;
  if (!sized) {
    segment.streamed = true;
    return segment;
  }
  // Too large to hold: the writer codes it in its turn straight into the package, in pieces on
  // these threads, which is as quick as coding it ahead and copying it in afterwards.
  if (size > kMaxHeldSource) {
    segment.streamed = true;
    return segment;
  }
  // The source the writer waits for never waits for the budget: the sources in hand all come after
  // it, and only the writer's taking would free them.
  changed_.wait(lock, [&] { return stopping_ || inHand_ + size <= kHeldBudget || index == taken_; });
  if (stopping_) return segment;
  reserved_[index] = size;
  inHand_ += size;
  lock.unlock();
  PackageWriter writer;
  StartMemoryPackage(writer, segment.stream, kMaxPackageSize);
  segment.result = WriteCompressedSegment(writer, input, check_, sources_[index].c_str(), &segment.why,
                                          &segment.sourceBytes, this);
  if (segment.result == SegmentResult::WriteFailed) segment.why = writer.status;
  segment.timeRead = platform::GetLastWriteTime(input, segment.fileTime);
  lock.lock();
  return segment;
}

unsigned DefaultBuildJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}
