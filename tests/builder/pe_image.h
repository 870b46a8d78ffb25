// Small PE images made in memory for the version reader's tests and fuzz seeds: headers, one
// resource section, and version resources as the resource compiler lays them out.
#pragma once

#include <cstdint>
#include <vector>

namespace pe_test {

using Bytes = std::vector<std::uint8_t>;

struct VersionResource {
  std::uint32_t language = 0x409;
  std::uint32_t versionMS = 0;
  std::uint32_t versionLS = 0;
  std::uint32_t valueLength = 52;          // wValueLength: 0 makes a block without a fixed part
  std::uint32_t signature = 0xFEEF04BDu;
};

struct ImageSpec {
  bool wide = false;                 // PE32+ (64-bit) instead of PE32
  std::uint32_t resourceType = 16;   // RT_VERSION
  std::uint32_t resourceName = 1;
  std::vector<VersionResource> languages = std::vector<VersionResource>(1);
};

Bytes MakeImage(const ImageSpec& spec);

}  // namespace pe_test
