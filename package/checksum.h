// The package checksum: the 32-bit word sum that closes every package, computed over everything
// before it. The builder writes it; the installer and qorpack verify a package with it before reading.
#pragma once

#include <cstdint>

#include "package/layout.h"

// Sums the little-endian 32-bit words of the first `length` bytes that `input` delivers (modulo
// 2^32), in one pass through a fixed 50000-byte buffer. A length that is no multiple of 4 has its
// last word completed with zero bytes. False when the input fails or ends before `length` bytes.
bool PackageChecksum(PackageInput input, void* context, std::uint32_t length, std::uint32_t& sum);

// The checksum word as stored: little-endian.
std::uint32_t LoadChecksumWord(const std::uint8_t (&bytes)[kChecksumSize]);
void StoreChecksumWord(std::uint32_t sum, std::uint8_t (&bytes)[kChecksumSize]);
