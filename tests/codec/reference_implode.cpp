// The plain reference encoder of the codec tests: the coding rules written out as directly as
// possible, with none of ImplodeStream's shortcuts (no prefix chains, no combined token heads, no
// staged output). It keeps its own copy of the window with the sorted positions right behind it,
// because the rules let a comparison near the end of the input read into them.
#include <cstring>
#include <vector>

#include "codec_test_support.h"

namespace codec_test {
namespace {

class ReferenceEncoder {
 public:
  ReferenceEncoder(std::uint32_t literalMode, std::uint32_t dictionarySize)
      : literalMode_(literalMode), dictionary_(dictionarySize), memory_(3 * kWindow, 0) {
    lowBits_ = dictionarySize == 1024 ? 4 : dictionarySize == 2048 ? 5 : 6;
    out_.push_back(static_cast<std::uint8_t>(literalMode));
    out_.push_back(static_cast<std::uint8_t>(lowBits_));
  }

  Bytes Run(const Bytes& input) {
    const std::uint32_t reserveEnd = dictionary_ + 516;
    std::size_t consumed = 0;
    std::uint32_t p = reserveEnd;
    for (int pass = 0;; ++pass) {
      // One read of up to 4096 bytes; a short block (or none) means the input has ended, exactly
      // as a callback that returns 0 after the last byte.
      const std::size_t got = std::min<std::size_t>(4096, input.size() - consumed);
      if (got != 0) std::memcpy(&memory_[reserveEnd], input.data() + consumed, got);
      consumed += got;
      const bool last = got < 4096;
      if (pass == 0 && got == 0) break;
      const std::uint32_t limit = last ? reserveEnd + static_cast<std::uint32_t>(got) : dictionary_ + 4096;
      std::uint32_t first = pass == 0 ? p : (pass == 1 && dictionary_ == 4096) ? p - 4096 + 516 : p - dictionary_;
      Sort(first, limit);
      Code(p, limit, last);
      if (last) break;
      for (std::uint32_t i = 0; i < reserveEnd; ++i) memory_[i] = memory_[4096 + i];
      p -= 4096;
    }
    Put(1, 1);
    Put(7, 0);
    Put(8, 255);
    return out_;
  }

 private:
  static constexpr std::uint32_t kWindow = 8708;

  std::uint32_t Hash(std::uint32_t q) const { return 4u * memory_[q] + 5u * memory_[q + 1]; }
  std::uint32_t Sorted(std::uint32_t i) const {
    return memory_[kWindow + 2 * i] + 256u * memory_[kWindow + 2 * i + 1];
  }

  void Sort(std::uint32_t first, std::uint32_t limit) {
    std::vector<std::uint32_t> counters(2304, 0);
    for (std::uint32_t q = first; q <= limit; ++q) counters[Hash(q)] += 1;
    for (std::uint32_t b = 1; b < 2304; ++b) counters[b] += counters[b - 1];
    for (std::uint32_t q = limit; q + 1 > first; --q) {
      const std::uint32_t h = Hash(q);
      counters[h] -= 1;
      memory_[kWindow + 2 * counters[h]] = static_cast<std::uint8_t>(q & 0xFF);
      memory_[kWindow + 2 * counters[h] + 1] = static_cast<std::uint8_t>(q >> 8);
    }
    bucketStart_ = counters;
    count_ = limit - first + 1;
  }

  // Plain candidate scan: every candidate in reach, farthest first.
  std::uint32_t Find(std::uint32_t p) {
    const std::uint32_t h = Hash(p);
    std::uint32_t i = bucketStart_[h];
    while (Sorted(i) < p - dictionary_ + 1) ++i;
    bucketStart_[h] = i;
    std::uint32_t best = 1;
    for (; i < count_ && Sorted(i) < p - 1; ++i) {
      const std::uint32_t c = Sorted(i);
      if (memory_[c + best - 1] != memory_[p + best - 1] || memory_[c] != memory_[p]) continue;
      std::uint32_t n = 2;
      while (n < 516 && memory_[c + n] == memory_[p + n]) ++n;
      if (n >= best) {
        best = n;
        distance_ = p - c - 1;
        if (best == 516) return best;
      }
    }
    return best >= 2 ? best : 0;
  }

  void Code(std::uint32_t& p, std::uint32_t limit, bool last) {
    while (p < limit) {
      std::uint32_t n = Find(p);
      bool decided = false;
      while (!decided) {
        decided = true;
        if (n == 0 || (n == 2 && distance_ >= 256)) {
          Literal(p++);
        } else if (last && p + n > limit) {
          n = limit - p;
          if (n < 2 || (n == 2 && distance_ >= 256)) {
            Literal(p++);
          } else {
            Match(n);
            p += n;
          }
        } else if (n >= 8 || p + 1 >= limit) {
          Match(n);
          p += n;
        } else {
          const std::uint32_t d = distance_;
          const std::uint32_t next = Find(p + 1);
          if (n >= next || (next == n + 1 && d <= 128)) {
            distance_ = d;
            Match(n);
            p += n;
          } else {
            Literal(p++);
            n = next;
            decided = false;
          }
        }
      }
    }
  }

  void Put(std::uint32_t count, std::uint32_t value) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (bits_ % 8 == 0) out_.push_back(0);
      out_.back() = static_cast<std::uint8_t>(out_.back() | (((value >> i) & 1) << (bits_ % 8)));
      ++bits_;
    }
  }

  void Literal(std::uint32_t p) {
    const std::uint8_t byte = memory_[p];
    Put(1, 0);
    if (literalMode_ == 0) {
      Put(8, byte);
    } else {
      Put(AsciiLiteralCodes[byte].bits, AsciiLiteralCodes[byte].value);
    }
  }

  void Match(std::uint32_t length) {
    Put(1, 1);
    std::uint32_t code = 0;
    while (code + 1 < 16 && LengthCodes[code + 1].base <= length - 2) ++code;
    Put(LengthCodes[code].bits, LengthCodes[code].value);
    Put(LengthCodes[code].extraBits, length - 2 - LengthCodes[code].base);
    const std::uint32_t low = length == 2 ? 2 : lowBits_;
    Put(DistanceCodes[distance_ >> low].bits, DistanceCodes[distance_ >> low].value);
    Put(low, distance_ & ((1u << low) - 1));
  }

  std::uint32_t literalMode_;
  std::uint32_t dictionary_;
  std::uint32_t lowBits_;
  std::vector<std::uint8_t> memory_;  // window, then the sorted positions (16-bit, low byte first)
  std::vector<std::uint32_t> bucketStart_;
  std::uint32_t count_ = 0;
  std::uint32_t distance_ = 0;
  Bytes out_;
  std::uint64_t bits_ = 16;
};

}  // namespace

Bytes ReferenceImplode(const Bytes& input, std::uint32_t literalMode, std::uint32_t dictionarySize) {
  return ReferenceEncoder(literalMode, dictionarySize).Run(input);
}

}  // namespace codec_test
