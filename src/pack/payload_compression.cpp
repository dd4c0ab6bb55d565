#include "pack/payload_compression.h"

#include <libdeflate.h>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

void CompressorRelease::operator()(libdeflate_compressor* compressor) const {
  libdeflate_free_compressor(compressor);
}

Compressor makeCompressor(int level) { return Compressor(libdeflate_alloc_compressor(level)); }

size_t appendPayload(libdeflate_compressor* compressor, const uint8_t* data, size_t size,
                     std::vector<uint8_t>& out) {
  size_t start = out.size();
  out.resize(start + kUnpackedSizeBytes + libdeflate_zlib_compress_bound(compressor, size));
  storeLe32(out.data() + start, uint32_t(size));
  uint8_t* stream = out.data() + start + kUnpackedSizeBytes;
  // The bound always suffices, so the result is never the 0 that means "did not fit".
  size_t streamLength = libdeflate_zlib_compress(compressor, data, size, stream, size_t(out.data() + out.size() - stream));
  out.resize(start + kUnpackedSizeBytes + streamLength);
  return kUnpackedSizeBytes + streamLength;
}

}  // namespace oxtrel
