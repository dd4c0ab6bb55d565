#pragma once

// Turns one entry's payload into the bytes of its output file.
//
// Compressed archive: the payload is a 4-byte little-endian unpackedSize, then a zlib stream.
//   unpackedSize 0 gives an empty file without inflating anything. Otherwise the stream is
//   inflated into at most unpackedSize bytes: a zlib header is required, a preset dictionary is
//   refused, the Adler-32 trailer is verified, bytes after the end of the stream are ignored, and
//   a stream that ends having produced fewer than unpackedSize bytes succeeds with what it
//   produced. Any failure, or a payload shorter than 4 bytes, is an unpackFailed error.
// Stored archive: the payload is the file. One that looks zlib-packed (payload_format.h) is
//   still written unchanged, but flagged possiblyPacked.

#include <cstdint>
#include <memory>
#include <span>

#include "common/result.h"
#include "extract/growable_buffer.h"

struct libdeflate_decompressor;

namespace oxtrel {

struct DecodedPayload {
  std::span<const uint8_t> bytes;  // valid until the next decode or the payload's release
  bool possiblyPacked = false;     // a stored payload that looks compressed: written, but reported
};

struct InflaterDeleter {
  void operator()(libdeflate_decompressor* d) const;
};

// One inflater and one output buffer, reused for every entry of a run.
struct PayloadDecoder {
  std::unique_ptr<libdeflate_decompressor, InflaterDeleter> inflater;
  GrowableBuffer output;
};

PayloadDecoder makePayloadDecoder();

// Failures are unpackFailed; where is left to the caller.
Result<DecodedPayload> decodePayload(PayloadDecoder& decoder, bool compressed, std::span<const uint8_t> payload);

}  // namespace oxtrel
