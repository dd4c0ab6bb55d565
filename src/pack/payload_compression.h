#pragma once

// Turns a file's bytes into a compressed payload: its 4-byte unpacked size, then a zlib stream.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <oxtrel/compression.h>

struct libdeflate_compressor;

namespace oxtrel {

struct CompressorRelease {
  void operator()(libdeflate_compressor* compressor) const;
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorRelease>;

// Requires: level within kMinCompressionLevel..kMaxCompressionLevel. Null when memory ran out.
Compressor makeCompressor(int level);

// Appends the payload of the size bytes at data to out and returns its length. Requires: size
// fits in 32 bits. One compressor serves a whole run.
size_t appendPayload(libdeflate_compressor* compressor, const uint8_t* data, size_t size,
                     std::vector<uint8_t>& out);

}  // namespace oxtrel
