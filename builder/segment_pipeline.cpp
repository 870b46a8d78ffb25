// SegmentPipeline: workers take the sources in order, each a few ahead of the writer, and leave the
// compressed streams for it; the writer takes them in order and appends them to the package.
#include "builder/segment_pipeline.h"

#include <cstdint>
#include <system_error>
#include <utility>

#include "builder/package_writer.h"

SegmentPipeline::SegmentPipeline(std::vector<std::string> sources, const SegmentCheck& check, unsigned jobs,
                                 std::string packagePath)
    : sources_(std::move(sources)),
      check_(check),
      packagePath_(std::move(packagePath)),
      window_(2 * static_cast<std::size_t>(jobs)),
      held_(sources_.size()),
      ready_(sources_.size(), false),
      reserved_(sources_.size(), 0),
      sizes_(sources_.size(), 0),
      started_(sources_.size(), false) {
  // Progress lines go to one console from one thread: the writer's.
  check_.progress = nullptr;
  if (jobs <= 1) jobs = 0;
  // The sizes only decide which source starts early; a source that changes or cannot be opened
  // now is compressed (or reported) in turn all the same.
  if (jobs != 0) {
    for (std::size_t i = 0; i < sources_.size(); ++i) {
      platform::File input;
      if (platform::OpenRegularFile(sources_[i].c_str(), input)) platform::SeekEnd(input, sizes_[i]);
    }
  }
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
  if (started_[index]) --waiting_;
  if (early_ == index) early_ = SIZE_MAX;
  lock.unlock();
  // A slot in the window is free again.
  changed_.notify_all();
  return segment;
}

bool SegmentPipeline::NextSource(std::size_t& index) {
  while (nextInOrder_ < sources_.size() && started_[nextInOrder_]) ++nextInOrder_;
  if (nextInOrder_ == sources_.size() || waiting_ >= window_) return false;
  index = nextInOrder_;
  // The largest source still to start that goes to a temporary file may start ahead of its turn
  // when no other does: it holds one of the 2 x jobs places until the writer takes it, and the
  // others keep the sources in order moving (there are at least two places besides, so the one
  // the writer waits for always gets one).
  if (early_ == SIZE_MAX && waiting_ + 2 <= window_) {
    std::size_t largest = index;
    for (std::size_t i = index + 1; i < sources_.size(); ++i) {
      if (!started_[i] && sizes_[i] > kMaxHeldSource && sizes_[i] > sizes_[largest]) largest = i;
    }
    if (largest != index && sizes_[largest] > sizes_[index]) {
      index = largest;
      early_ = largest;
    }
  }
  started_[index] = true;
  ++waiting_;
  return true;
}

void SegmentPipeline::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::size_t index = 0;
    changed_.wait(lock, [&] { return stopping_ || NextSource(index); });
    if (stopping_) return;
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
  if (size > kMaxHeldSource) {
    lock.unlock();
    Spill(index, input, segment);
    lock.lock();
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
                                          &segment.sourceBytes);
  if (segment.result == SegmentResult::WriteFailed) segment.why = writer.status;
  segment.timeRead = platform::GetLastWriteTime(input, segment.fileTime);
  lock.lock();
  return segment;
}

void SegmentPipeline::Spill(std::size_t index, platform::File& input, HeldSegment& segment) const {
  auto spill = std::make_unique<platform::Replacement>();
  PackageWriter writer;
  // No room beside the package: the writer streams the source itself in turn.
  if (!spill->Begin(packagePath_.c_str()) || !StartPackage(writer, spill->file, kMaxPackageSize)) {
    segment.streamed = true;
    return;
  }
  segment.result = WriteCompressedSegment(writer, input, check_, sources_[index].c_str(), &segment.why,
                                          &segment.sourceBytes);
  if (segment.result == SegmentResult::Ok && !FlushPackage(writer)) segment.result = SegmentResult::WriteFailed;
  if (segment.result == SegmentResult::WriteFailed) segment.why = writer.status;
  segment.timeRead = platform::GetLastWriteTime(input, segment.fileTime);
  segment.spilledLength = writer.length;
  segment.spill = std::move(spill);
}

unsigned DefaultBuildJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}
