// The encoder in pieces on one large input, against the single-threaded encoder in the same run.
//
// The input is one file (a command-line argument, or when none or "" is named, 256 MiB made of the system's i386
// DLLs, x86-64 shared libraries, text, zeros and random bytes, as a data pack or disk image mixes
// them). Printed, each as the median over several rounds in which the codings take turns:
//   - the time in pieces on 1 to `threads` threads over the single-threaded time (the goal: at most
//     0.6 on two cores);
//   - the parallel part against the whole: coded in turn on one thread, how much of the time goes
//     to coding the pieces (which threads share) and how much to cutting and joining them (which
//     one thread does), each over the single-threaded time; with them the best ratio two threads
//     could reach.
// Every stream is compared with the single-threaded one.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus_files.h"
#include "codec/implode.h"
#include "codec/implode_pieces.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

using corpus::AppendFiles;

Bytes MixedPayload() {
  Bytes bytes;
  AppendFiles("/usr/lib/i386-linux-gnu/wine/i386-windows", [](const std::filesystem::path& p) { return p.extension() == ".dll"; },
         96u << 20, bytes);
  AppendFiles("/usr/lib/x86_64-linux-gnu", [](const std::filesystem::path& p) { return p.string().find(".so") != std::string::npos; },
         64u << 20, bytes);
  AppendFiles("/usr/share/doc", [](const std::filesystem::path& p) { return p.filename() == "copyright"; }, 24u << 20, bytes);
  AppendFiles("/usr/include", [](const std::filesystem::path& p) { return p.extension() == ".h"; }, 24u << 20, bytes);
  bytes.insert(bytes.end(), 32u << 20, 0);
  std::mt19937 random(1);
  for (std::size_t i = 0; i < (16u << 20); ++i) bytes.push_back(static_cast<std::uint8_t>(random()));
  return bytes;
}

struct Io {
  const Bytes* input;
  std::size_t position;
  Bytes output;
};

std::uint32_t Read(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Io& io = *static_cast<Io*>(parameter);
  const std::size_t count = std::min<std::size_t>(*size, io.input->size() - io.position);
  std::memcpy(buffer, io.input->data() + io.position, count);
  io.position += count;
  return static_cast<std::uint32_t>(count);
}

void Write(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Io& io = *static_cast<Io*>(parameter);
  io.output.insert(io.output.end(), buffer, buffer + *size);
}

// Codes pieces on `threads - 1` threads of its own and on the thread that waits, as the builder's
// threads do; with one thread, codes each piece when it is started, and adds up the time it takes.
class Runner final : public ImplodePieceRunner {
 public:
  explicit Runner(unsigned threads) {
    for (unsigned i = 1; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~Runner() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  void Start(ImplodePiece& piece) override {
    if (threads_.empty()) {
      const Clock::time_point start = Clock::now();
      Code(piece);
      coding_ += Clock::now() - start;
      done_.push_back(&piece);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queued_.push_back(&piece);
    }
    changed_.notify_all();
  }
  void Wait(ImplodePiece& piece) override {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (std::find(done_.begin(), done_.end(), &piece) != done_.end()) {
        done_.erase(std::find(done_.begin(), done_.end(), &piece));
        return;
      }
      if (!queued_.empty()) {
        // Help: code the oldest queued piece here.
        ImplodePiece* next = queued_.front();
        queued_.pop_front();
        lock.unlock();
        Code(*next);
        lock.lock();
        done_.push_back(next);
        continue;
      }
      changed_.wait(lock);
    }
  }
  Clock::duration coding() const { return coding_; }

 private:
  void Code(ImplodePiece& piece) {
    thread_local std::unique_ptr<ImplodeState> state(new ImplodeState);
    ImplodeCodePiece(piece, state.get());
  }
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
      if (stopping_) return;
      ImplodePiece* piece = queued_.front();
      queued_.pop_front();
      lock.unlock();
      Code(*piece);
      lock.lock();
      done_.push_back(piece);
      changed_.notify_all();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ImplodePiece*> queued_;
  std::vector<ImplodePiece*> done_;
  bool stopping_ = false;
  Clock::duration coding_{};
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  Bytes input;
  const bool named = argc > 1 && argv[1][0] != '\0';  // "" asks for the mixed payload
  if (named) {
    std::ifstream in(argv[1], std::ios::binary);
    input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    input = MixedPayload();
  }
  const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 2;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  std::printf("input: %.1f MB (%s), %u threads at most, %d rounds, %u cores\n", static_cast<double>(input.size()) / 1e6,
              named ? argv[1] : "DLLs, shared libraries, text, zeros, random", threads, rounds,
              std::thread::hardware_concurrency());

  auto state = std::make_unique<ImplodeState>();
  ImplodePieceLimits limits;
  limits.runOn = 8192;
  std::vector<std::vector<double>> ratios(threads + 1);
  std::vector<double> coding, joining;
  Bytes whole;
  for (int round = 0; round < rounds; ++round) {
    // The single-threaded coding goes first in even rounds and last in odd ones.
    double single = 0;
    auto codeWhole = [&] {
      Io io{&input, 0, {}};
      io.output.reserve(input.size() / 2);
      const Clock::time_point start = Clock::now();
      ImplodeStream(Read, Write, state.get(), &io, kLiteralBinary, 4096);
      single = Seconds(Clock::now() - start);
      whole = std::move(io.output);
    };
    if (round % 2 == 0) codeWhole();
    std::vector<double> times(threads + 1);
    Clock::duration inTurnCoding{};
    for (unsigned n = 1; n <= threads; ++n) {
      Runner runner(n);
      limits.inFlight = n + 2;
      Io io{&input, 0, {}};
      io.output.reserve(input.size() / 2);
      const Clock::time_point start = Clock::now();
      ImplodeInPieces(Read, Write, &io, kLiteralBinary, 4096, limits, runner);
      times[n] = Seconds(Clock::now() - start);
      if (n == 1) inTurnCoding = runner.coding();
      if (round % 2 == 0 && io.output != whole) {
        std::fprintf(stderr, "parallel_bench: the stream in pieces on %u threads differs\n", n);
        return 1;
      }
    }
    if (round % 2 != 0) codeWhole();
    for (unsigned n = 1; n <= threads; ++n) ratios[n].push_back(times[n] / single);
    coding.push_back(Seconds(inTurnCoding) / single);
    joining.push_back((times[1] - Seconds(inTurnCoding)) / single);
  }
  std::printf("stream: %.1f%% of the input, the same bytes on every number of threads\n",
              100.0 * static_cast<double>(whole.size()) / static_cast<double>(input.size()));
  for (unsigned n = 1; n <= threads; ++n) {
    std::printf("in pieces on %u thread%s / single-threaded: %.3f%s\n", n, n == 1 ? " " : "s", Median(ratios[n]),
                n == 2 ? " (goal: at most 0.6)" : "");
  }
  const double parallel = Median(coding), serial = Median(joining);
  std::printf("parallel part (coding the pieces) / single-threaded: %.3f\n", parallel);
  std::printf("serial part (cutting and joining) / single-threaded: %.3f\n", serial);
  std::printf("best on 2 threads by these parts: %.3f\n", serial + parallel / 2);
  return 0;
}
