// Test packages composed straight from the layout (stub, marker, compressed script, then each file
// compressed with its marker and time, padding, checksum), so that reading can be tested apart from
// the builder, and damaged packages can be made on purpose.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/implode.h"
#include "package/layout.h"

namespace testpkg {

using Bytes = std::vector<std::uint8_t>;

struct Piece {
  Bytes data;
  std::uint64_t fileTime;
};

// "File01" ... "File99".
inline std::string PayloadKeyFor(std::size_t number) {
  const char digits[] = {static_cast<char>('0' + number / 10 % 10), static_cast<char>('0' + number % 10), '\0'};
  return std::string("File") + digits;
}

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Implode(const Bytes& data) {
  Bytes out(16 + data.size() * 9 / 8 + 16);
  const std::int32_t n = ImplodeBuffer(out.data(), static_cast<std::uint32_t>(out.size()), data.data(),
                                       static_cast<std::uint32_t>(data.size()));
  if (n < 0) throw std::runtime_error("ImplodeBuffer failed");
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Appends bytes by resize and copy: gcc 12 at -O3 warns falsely about vector::insert of a range.
inline void Append(Bytes& out, const std::uint8_t* data, std::size_t size) {
  const std::size_t at = out.size();
  out.resize(at + size);
  if (size != 0) std::memcpy(out.data() + at, data, size);
}
inline void Append(Bytes& out, const Bytes& more) { Append(out, more.data(), more.size()); }

inline void AppendMarker(Bytes& out) {
  Append(out, reinterpret_cast<const std::uint8_t*>(SegmentMarker), kMarkerSize);
}

inline void AppendTime(Bytes& out, std::uint64_t fileTime) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(fileTime >> (8 * i)));
}

// A stub of `size` bytes holding the marker once, at `markerAt`, as the program's own image does.
inline Bytes FakeStub(std::size_t size, std::size_t markerAt = 0) {
  Bytes stub(size, 'S');
  std::memcpy(stub.data() + markerAt, SegmentMarker, kMarkerSize);
  return stub;
}

// The checksum word over everything before the last 4 bytes, written into them.
inline void SealChecksum(Bytes& package) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 8 <= package.size(); i += 4) {
    sum += static_cast<std::uint32_t>(package[i]) | static_cast<std::uint32_t>(package[i + 1]) << 8 |
           static_cast<std::uint32_t>(package[i + 2]) << 16 | static_cast<std::uint32_t>(package[i + 3]) << 24;
  }
  for (int i = 0; i < 4; ++i) package[package.size() - 4 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
}

// The whole package: `stub`, then the script and the files as pieces, padding and checksum.
inline Bytes Compose(const Bytes& stub, const Piece& script, const std::vector<Piece>& files) {
  Bytes out = stub;
  AppendMarker(out);
  const Bytes packedScript = Implode(script.data);
  Append(out, packedScript);
  AppendMarker(out);
  AppendTime(out, script.fileTime);
  for (const Piece& file : files) {
    const Bytes packed = Implode(file.data);
    Append(out, packed);
    AppendMarker(out);
    AppendTime(out, file.fileTime);
  }
  while (out.size() % 4 != 0) out.push_back(0);
  out.resize(out.size() + 4, 0);
  SealChecksum(out);
  return out;
}

}  // namespace testpkg
