#include "extract/payload_decoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

namespace {

// Deflate cannot expand a byte of input into more than 1032 bytes of output (two one-bit codes
// for a 258-byte match per quarter byte); a larger claim would never be filled, so the output
// buffer is capped there and a tiny hostile payload cannot ask for gigabytes.
uint64_t largestPossibleInflation(size_t streamLength) { return uint64_t(streamLength) * 1032 + 1024; }

}  // namespace

void InflaterDeleter::operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }

PayloadDecoder makePayloadDecoder() {
  PayloadDecoder decoder;
  decoder.inflater.reset(libdeflate_alloc_decompressor());
  if (!decoder.inflater) throw std::bad_alloc();
  return decoder;
}

Result<DecodedPayload> decodePayload(PayloadDecoder& decoder, bool compressed, std::span<const uint8_t> payload) {
  if (!compressed) return DecodedPayload{payload, looksZlibPacked(payload)};

  const Error unpackFailed{ErrorKind::unpackFailed, 0, {}};
  if (payload.size() < kUnpackedSizeBytes) return unpackFailed;
  uint32_t unpackedSize = loadLe32(payload.data());
  if (unpackedSize == 0) return DecodedPayload{};

  std::span<const uint8_t> stream = payload.subspan(kUnpackedSizeBytes);
  size_t capacity = size_t(std::min<uint64_t>(unpackedSize, largestPossibleInflation(stream.size())));
  uint8_t* out = reserveBytes(decoder.output, capacity);
  size_t consumed = 0;
  size_t produced = 0;
  // Passing both counters lets the stream end early and be followed by other bytes.
  libdeflate_result r = libdeflate_zlib_decompress_ex(decoder.inflater.get(), stream.data(), stream.size(),
                                                      out, capacity, &consumed, &produced);
  if (r != LIBDEFLATE_SUCCESS) return unpackFailed;
  return DecodedPayload{{out, produced}, false};
}

}  // namespace oxtrel
