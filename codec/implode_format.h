// The implode stream format shared by the decoder and the encoder: the stream header, the callback
// contract both stream coders speak, and the three fixed prefix-code tables.
#pragma once

#include <cstdint>

// Header byte 0 of every stream: how a literal byte is coded.
enum LiteralMode : std::uint32_t {
  kLiteralBinary = 0,  // flag bit, then the byte's 8 bits: what every package segment uses
  kLiteralAscii = 1,   // flag bit, then the byte's code from AsciiLiteralCodes
};

// Header byte 1 is the dictionary bits: 4, 5 or 6 for a 1024-, 2048- or 4096-byte dictionary.
constexpr std::uint32_t kMinDictionaryBits = 4;
constexpr std::uint32_t kMaxDictionaryBits = 6;

// Read callback of both stream coders: places up to *size bytes at buffer and returns how many it
// placed; 0 means the input has ended (a failing source looks the same). The coders never ask again
// after a 0, and treat a count above *size as *size.
using CodecRead = std::uint32_t (*)(std::uint8_t* buffer, std::uint32_t* size, void* parameter);
// Write callback of both stream coders: takes the *size bytes at buffer; it cannot report failure.
using CodecWrite = void (*)(std::uint8_t* buffer, std::uint32_t* size, void* parameter);

// One row of a prefix code: the code's bit length and its bits, the first one sent in bit 0.
struct PrefixCode {
  std::uint8_t bits;
  std::uint16_t value;
};

// One row of LengthCodes: the prefix code, then how many extra bits follow it and the length value
// they add to. Match length = base + extra value + 2.
struct LengthCode {
  std::uint8_t bits;
  std::uint8_t value;
  std::uint8_t extraBits;
  std::uint16_t base;
};

constexpr std::uint32_t kLengthCodeCount = 16;
constexpr std::uint32_t kDistanceCodeCount = 64;
constexpr std::uint32_t kAsciiCodeCount = 256;

// Shortest and longest match a stream can carry; code 15 with the extra value 255 (one past the
// longest length) is the end code instead.
constexpr std::uint32_t kMinMatchLength = 2;
constexpr std::uint32_t kMaxMatchLength = 518;
constexpr std::uint32_t kEndCodeValue = 517;  // base + extra value of the end code

// The fixed code tables. Both coders copy what they need into their working records, so the two
// sides stay identical value for value.
extern const LengthCode LengthCodes[kLengthCodeCount];
extern const PrefixCode DistanceCodes[kDistanceCodeCount];  // indexed by the distance high part
extern const PrefixCode AsciiLiteralCodes[kAsciiCodeCount];  // indexed by the byte value
