#include "pack/payload_compression.h"

#include <libdeflate.h>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

void CompressorRelease::operator()(libdeflate_compressor* compressor) const {
  libdeflate_free_compressor(compressor);
}

Compressor makeCompressor(int level) { return Compressor(libdeflate_alloc_compressor(level)); }

std::vector<uint8_t> compressPayload(libdeflate_compressor* compressor, const uint8_t* data,
                                     size_t size) {
  std::vector<uint8_t> payload(kUnpackedSizeBytes + libdeflate_zlib_compress_bound(compressor, size));
  storeLe32(payload.data(), uint32_t(size));
  // The bound always suffices, so the result is never the 0 that means "did not fit".
  size_t streamLength =
      libdeflate_zlib_compress(compressor, data, size, payload.data() + kUnpackedSizeBytes,
                               payload.size() - kUnpackedSizeBytes);
  payload.resize(kUnpackedSizeBytes + streamLength);
  return payload;
}

}  // namespace oxtrel
