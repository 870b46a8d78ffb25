// Implode then explode over many kinds and sizes of data in all six settings, and the encoder
// against the plain reference encoder: byte-for-byte equality shows that the search shortcuts
// change nothing, including near the end of the input where comparisons read past the data.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "codec_test_support.h"

namespace {

using codec_test::Bytes;

struct Setting {
  std::uint32_t mode;
  std::uint32_t dictionary;
};

const Setting kSettings[] = {{0, 1024}, {0, 2048}, {0, 4096}, {1, 1024}, {1, 2048}, {1, 4096}};

std::string Name(const Setting& setting) {
  return std::string(setting.mode == 0 ? "binary/" : "ascii/") + std::to_string(setting.dictionary);
}

struct Sample {
  std::string name;
  Bytes bytes;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 515, 516, 517, 4095, 4096, 4097, 8191, 8192, 8193, 12287};
  std::uint32_t seed = 1;
  for (std::size_t size : sizes) {
    samples.push_back({"random " + std::to_string(size), codec_test::RandomBytes(size, seed++)});
    samples.push_back({"text " + std::to_string(size), codec_test::TextLike(size, seed++)});
    samples.push_back({"runs " + std::to_string(size), codec_test::RunHeavy(size, seed++)});
    samples.push_back({"periodic " + std::to_string(size), codec_test::Periodic(size, 1 + seed % 300, seed)});
    ++seed;
  }
  // Inputs with many equally good and nearly as good candidates, where the long-match search skips
  // most; and runs that end right at the end of the input.
  samples.push_back({"ab 30000", codec_test::SmallAlphabet(30000, 2, 11)});
  samples.push_back({"abc 30000", codec_test::SmallAlphabet(30000, 3, 12)});
  samples.push_back({"zeros 20479", Bytes(20479, 0)});
  samples.push_back({"periodic 7 16383", codec_test::Periodic(16383, 7, 13)});
  samples.push_back({"periodic 515 13000", codec_test::Periodic(13000, 515, 14)});
  samples.push_back({"periodic 1500 9000", codec_test::Periodic(9000, 1500, 15)});
  return samples;
}

TEST(RoundTrip, AllSettingsAllKindsOfData) {
  for (const Sample& sample : Samples()) {
    for (const Setting& setting : kSettings) {
      const Bytes stream = codec_test::Implode(sample.bytes, setting.mode, setting.dictionary);
      // Binary literals are 9 bits: no stream is longer than all literals. (ASCII ones reach 14.)
      if (setting.mode == 0) {
        ASSERT_LE(stream.size(), codec_test::MaxStreamLength(sample.bytes.size())) << sample.name << " " << Name(setting);
      }
      // The decoder needs more than 4 bytes: only the empty input's stream is that short.
      if (sample.bytes.empty()) continue;
      const auto decoded = codec_test::Explode(stream);
      ASSERT_EQ(decoded.result, kExplodeOk) << sample.name << " " << Name(setting);
      ASSERT_EQ(decoded.output, sample.bytes) << sample.name << " " << Name(setting);
    }
  }
}

TEST(RoundTrip, SeveralHundredKilobytes) {
  Bytes mixed;
  for (std::uint32_t part = 0; part < 6; ++part) {
    const Bytes pieces[] = {codec_test::TextLike(50000, part), codec_test::RandomBytes(30000, part),
                            codec_test::RunHeavy(40000, part)};
    for (const Bytes& piece : pieces) mixed.insert(mixed.end(), piece.begin(), piece.end());
  }
  for (const Setting& setting : kSettings) {
    const Bytes stream = codec_test::Implode(mixed, setting.mode, setting.dictionary);
    EXPECT_LT(stream.size(), mixed.size());
    const auto decoded = codec_test::Explode(stream, 5, 1 + setting.dictionary % 97);
    ASSERT_EQ(decoded.result, kExplodeOk) << Name(setting);
    ASSERT_EQ(decoded.output, mixed) << Name(setting);
    EXPECT_EQ(stream, codec_test::Implode(mixed, setting.mode, setting.dictionary, 1)) << Name(setting);
  }
}

TEST(ReferenceEncoder, SameBytesAsTheEncoder) {
  for (const Sample& sample : Samples()) {
    for (const Setting& setting : kSettings) {
      ASSERT_EQ(codec_test::Implode(sample.bytes, setting.mode, setting.dictionary),
                codec_test::ReferenceImplode(sample.bytes, setting.mode, setting.dictionary))
          << sample.name << " " << Name(setting);
    }
  }
}

TEST(ReferenceEncoder, SameBytesAtEveryLastPassLength) {
  // Each last pass length from 0 to 4095 once, on data whose matches run to the end of the input,
  // so the comparisons there read past the data into whatever the state holds.
  const Bytes base = codec_test::Periodic(4096 + 4095, 97, 21);
  const Bytes text = codec_test::TextLike(4096 + 4095, 22);
  for (std::size_t last = 0; last < 4096; last += 1 + last / 64) {
    for (const Bytes* source : {&base, &text}) {
      const Bytes input(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(4096 + last));
      for (std::uint32_t dictionary : {1024u, 4096u}) {
        ASSERT_EQ(codec_test::Implode(input, 0, dictionary), codec_test::ReferenceImplode(input, 0, dictionary))
            << "last pass " << last << " dictionary " << dictionary;
      }
    }
  }
}

}  // namespace
