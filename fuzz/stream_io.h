// The callbacks of the encoder fuzz targets: the input handed out in deliveries of at most
// `deliver` bytes, and everything written collected in `output`.
#pragma once

#include <cstdint>
#include <vector>

namespace fuzz_io {

struct Io {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  std::uint32_t deliver;  // most bytes per read
  std::vector<std::uint8_t> output;
};

inline std::uint32_t Read(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& io = *static_cast<Io*>(parameter);
  std::size_t count = *size < io.deliver ? *size : io.deliver;
  if (count > io.size - io.position) count = io.size - io.position;
  for (std::size_t i = 0; i < count; ++i) buffer[i] = io.data[io.position + i];
  io.position += count;
  return static_cast<std::uint32_t>(count);
}

inline void Write(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& io = *static_cast<Io*>(parameter);
  io.output.insert(io.output.end(), buffer, buffer + *size);
}

}  // namespace fuzz_io
