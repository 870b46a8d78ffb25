// The package layout, shared by the builder that writes packages and the installer that reads them.
//
// A package is one executable file, with no alignment between its pieces:
//   1. the stub image: this program's own executable, byte for byte (it holds the marker below
//      exactly once, in its data);
//   2. the marker, ending the stub;
//   3. the setup script (the packing list after pruning), compressed;
//   4. the marker and the script's last-write time (8 bytes);
//   5. for each Files entry, File01 first: the file compressed, the marker, its last-write time;
//   6. 0 to 3 zero bytes, bringing the length to a multiple of 4;
//   7. the checksum: the sum modulo 2^32 of all little-endian 32-bit words before it, little-endian.
// A compressed piece is one implode stream (binary literals, 4096-byte dictionary, so it begins
// 00 06) and has no length field: it ends where the next marker begins, so it must never contain
// the marker. A reader counts the stub's own copy, so the marker that ends the stub is the second
// occurrence from the start. There is no directory: the number of file pieces is the number of
// FileNN entries of the stored script. A package holds at most kMaxPackageSize bytes, 2 GiB less one
// byte: its offsets are 32-bit, and readers that seek with signed 32-bit offsets reach no further.
// The builder refuses to write more, and readers refuse a larger package as damaged.
// A signer may later rewrite two fields of the stub's header and append zero padding and its
// certificate table after the checksum: package/signature.h reads such a package.
// A file time is a Windows file time (100-ns intervals since 1601-01-01 UTC), stored as its low
// 32-bit half, then its high half, each little-endian.
#pragma once

#include <cstdint>

constexpr std::uint32_t kMarkerSize = 13;
constexpr std::uint32_t kFileTimeSize = 8;
constexpr std::uint32_t kChecksumSize = 4;
constexpr std::uint32_t kMaxPackageSize = 0x7FFFFFFFu;

// "<", eleven "i", ">"; stored without terminator. The one definition of these bytes in the program:
// any second copy in the executable would make every package built from it unreadable.
extern const char SegmentMarker[kMarkerSize + 1];

// Delivers up to `size` bytes of a package, continuing where the last call ended, into `buffer`;
// `got` receives the count, 0 at the end. Returns false when the read fails. The readers below take
// their bytes through it, so memory and files read the same, and this folder needs no file system.
using PackageInput = bool (*)(void* context, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got);
