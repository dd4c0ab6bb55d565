#pragma once

// The bytes of a payload. In a compressed archive every payload is a 4-byte little-endian
// unpacked size followed by a zlib stream; in a stored archive it is the file itself.

#include <cstddef>
#include <cstdint>
#include <span>

namespace oxtrel {

inline constexpr size_t kUnpackedSizeBytes = 4;

// The zlib header a compressed payload's stream starts with, found right after the size.
inline constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};

// Bytes of a stored payload that the possibly-packed check looks at.
inline constexpr size_t kPackedCheckBytes = kUnpackedSizeBytes + sizeof kZlibHeader;

// True when a stored payload's bytes 4 and 5 are the zlib header pair 0x78 0x9C, as a
// compressed payload's would be: such a file is written unchanged but reported.
inline bool looksZlibPacked(std::span<const uint8_t> payload) {
  return payload.size() >= kPackedCheckBytes && payload[kUnpackedSizeBytes] == kZlibHeader[0] &&
         payload[kUnpackedSizeBytes + 1] == kZlibHeader[1];
}

}  // namespace oxtrel
